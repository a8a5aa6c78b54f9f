#include <winsock2.h>

#include "HttpClient.h"

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "HttpTestSupport.h"
#include "ScopedHandle.h"
#include "TestSupport.h"

namespace
{

// The bounds on slow servers and slow name lookups. The trickling servers of
// tests/http-servers.sh send one byte every 100 ms: "trickle" the whole
// reply, "tricklebody" the body after a prompt head. The low-speed limit is
// set low here (1000 bytes per 2 s) so that each case takes about 2 s.
class HttpBoundsTest : public HttpDownloadFixture
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ServersStarted("trickle"));
        m_options.lowSpeedBytes = 1000;
        m_options.lowSpeedSeconds = 2;
        m_client.SetOptions(m_options);
    }

    HttpOptions m_options;
};

TEST_F(HttpBoundsTest, TricklingReplyHeadIsAbandonedAndTheServerSkipped)
{
    const std::string url = LoopbackUrl(HttpServerPort("trickle"), "/small.bin");
    EXPECT_EQ(HttpResult::TimedOut, Fetch(url));
    EXPECT_EQ(1u,
              m_diag.CountStartingWith("SYMSRV:  127.0.0.1:" + std::to_string(HttpServerPort("trickle")) + " sent "))
        << m_diag.All();
    EXPECT_EQ(
        1u, m_diag.CountHolding(" bytes in 2 s, below the low-speed limit of 1000 bytes per 2 s; skipped for 300 s\n"))
        << m_diag.All();
    EXPECT_EQ(0u, m_diag.CountStartingWith("SYMSRV:  HTTP 200")) << "the head was complete: " << m_diag.All();
    EXPECT_TRUE(LeftNothing());
    EXPECT_EQ(HttpResult::Offline, Fetch(url));
}

TEST_F(HttpBoundsTest, TricklingBodyIsAbandonedLeavingNoFile)
{
    unsigned long long bytes = 0;
    EXPECT_EQ(HttpResult::TimedOut, Fetch(LoopbackUrl(HttpServerPort("tricklebody"), "/small.bin"), &bytes));
    EXPECT_TRUE(m_diag.Has("SYMSRV:  HTTP 200 OK\n")) << m_diag.All();
    EXPECT_EQ(1u, m_diag.CountHolding(" below the low-speed limit of 1000 bytes per 2 s")) << m_diag.All();
    EXPECT_GT(bytes, 0u);
    EXPECT_LT(bytes, 1000u);
    EXPECT_TRUE(LeftNothing());
}

TEST_F(HttpBoundsTest, LimitLetsAFullSpeedDownloadThrough)
{
    ASSERT_EQ(HttpResult::Ok, Fetch(LoopbackUrl(HttpServerPort("store"), "/big.bin"))) << m_diag.All();
    EXPECT_TRUE(ReadFileBytes(StoreFile("big.bin")) == ReadFileBytes(Target()));
}

TEST_F(HttpBoundsTest, NameThatDoesNotResolveIsUnreachable)
{
    m_options.lookup = [](const std::string&, unsigned long&) { return static_cast<int>(WSAHOST_NOT_FOUND); };
    m_client.SetOptions(m_options);
    EXPECT_EQ(HttpResult::Unreachable, Fetch("http://symbols.invalid/a.pdb"));
    EXPECT_TRUE(
        m_diag.Has("SYMSRV:  symbols.invalid:80 could not be reached (host name not found); skipped for 300 s\n"))
        << m_diag.All();
    EXPECT_EQ(HttpResult::Offline, Fetch("http://symbols.invalid/a.pdb"));
}

TEST_F(HttpBoundsTest, SlowNameLookupIsBoundedByTheTimeOutAndCountsAsUnreachable)
{
    // The lookup blocks until the test ends; it owns its copy of the event.
    CScopedHandle release(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    HANDLE lookupsCopy = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), release.Get(), GetCurrentProcess(), &lookupsCopy, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    m_options.timeoutMs = 300;
    m_options.lookup = [lookupsCopy](const std::string&, unsigned long&)
    {
        WaitForSingleObject(lookupsCopy, 30000);
        CloseHandle(lookupsCopy);
        return static_cast<int>(WSATRY_AGAIN);
    };
    m_client.SetOptions(m_options);
    EXPECT_EQ(HttpResult::Unreachable, Fetch("https://slow.example/a.pdb"));
    EXPECT_TRUE(m_diag.Has("SYMSRV:  slow.example:443 could not be reached (host name lookup took longer than 300 ms); "
                           "skipped for 300 s\n"))
        << m_diag.All();
    SetEvent(release.Get());
}

} // namespace
