#include <winsock2.h>

#include "HostResolver.h"
#include "LowSpeedGuard.h"
#include "ProxyConfig.h"
#include "ServerBackoff.h"

#include <atomic>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "ScopedHandle.h"

// The parts of the HTTP client that need no loopback server: name lookups,
// the low-speed guard, the offline marks and the proxy settings. Where time
// or a lookup matters, the test supplies the clock or the lookup.
namespace
{

// ---------------------------------------------------------------------------
// Host name lookups, bounded in time; the lookup is injected.

// A dotted quad is taken as it is; any other name goes to the lookup.
TEST(HostResolverTest, GivesTheLookupsAddressOrErrorAndTakesDottedQuadsWithoutOne)
{
    int lookups = 0;
    CHostResolver resolver(
        [&](const std::string& host, unsigned long& address)
        {
            ++lookups;
            if (host != "symbols.example")
                return static_cast<int>(WSAHOST_NOT_FOUND);
            address = htonl(0x0A000001);
            return 0;
        });
    unsigned long address = 0;
    int error = 0;
    EXPECT_EQ(CHostResolver::Outcome::Found, resolver.Resolve("127.0.0.1", 1000, address, error));
    EXPECT_EQ(htonl(INADDR_LOOPBACK), address);
    EXPECT_EQ(0, lookups);
    EXPECT_EQ(CHostResolver::Outcome::Found, resolver.Resolve("symbols.example", 1000, address, error));
    EXPECT_EQ(htonl(0x0A000001), address);
    EXPECT_EQ(CHostResolver::Outcome::Failed, resolver.Resolve("other.example", 1000, address, error));
    EXPECT_EQ(WSAHOST_NOT_FOUND, error);
}

TEST(HostResolverTest, FindsLocalhostThroughThePlatform)
{
    CHostResolver resolver;
    unsigned long address = 0;
    int error = 0;
    EXPECT_EQ(CHostResolver::Outcome::Found, resolver.Resolve("localhost", 5000, address, error)) << error;
    EXPECT_EQ(htonl(INADDR_LOOPBACK), address);
}

// The lookup is still running when the caller gives up; it ends once the
// test lets it, long after the caller has gone on. It runs on past the test,
// so it touches only what it owns: its own copy of the release event.
TEST(HostResolverTest, LookupThatOutlastsTheWaitTimesOut)
{
    CScopedHandle release(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    HANDLE lookupsCopy = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), release.Get(), GetCurrentProcess(), &lookupsCopy, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    auto returned = std::make_shared<std::atomic<bool>>(false);
    CHostResolver resolver(
        [lookupsCopy, returned](const std::string&, unsigned long&)
        {
            WaitForSingleObject(lookupsCopy, 30000);
            CloseHandle(lookupsCopy);
            *returned = true;
            return static_cast<int>(WSAHOST_NOT_FOUND);
        });
    unsigned long address = 0;
    int error = 0;
    EXPECT_EQ(CHostResolver::Outcome::TimedOut, resolver.Resolve("slow.example", 100, address, error));
    EXPECT_FALSE(*returned);
    SetEvent(release.Get());
}

// ---------------------------------------------------------------------------
// The low-speed limit of a transfer.

// 1000 bytes in every 10 s, on a clock the test moves by hand; it starts
// just before the tick counter wraps.
class LowSpeedGuardTest : public ::testing::Test
{
protected:
    void SetUp() override { m_guard.Start(); }

    DWORD m_now = 0xFFFFF000u;
    CLowSpeedGuard m_guard{1000, 10, [this] { return m_now; }};
};

TEST_F(LowSpeedGuardTest, WindowIsJudgedOnlyOnceItHasRunOut)
{
    m_now += 9999;
    EXPECT_TRUE(m_guard.Received(1));
    EXPECT_TRUE(m_guard.Received(0));
    m_now += 1;
    EXPECT_FALSE(m_guard.Received(1));
    EXPECT_EQ(2u, m_guard.WindowBytes());
}

TEST_F(LowSpeedGuardTest, EnoughBytesInEachWindowKeepTheTransferGoing)
{
    for (int window = 0; window < 5; ++window)
    {
        m_now += 5000;
        EXPECT_TRUE(m_guard.Received(500));
        m_now += 5000;
        EXPECT_TRUE(m_guard.Received(500)) << window;
    }
}

// Bytes of an earlier window do not carry over; a wait without bytes after
// the window fails.
TEST_F(LowSpeedGuardTest, EachWindowIsJudgedByItsOwnBytes)
{
    EXPECT_TRUE(m_guard.Received(400));
    m_now += 12000;
    EXPECT_FALSE(m_guard.Received(0));
    EXPECT_EQ(400u, m_guard.WindowBytes());
    m_guard.Start();
    m_now += 10000;
    EXPECT_TRUE(m_guard.Received(100000));
    m_now += 10000;
    EXPECT_FALSE(m_guard.Received(999));
}

TEST_F(LowSpeedGuardTest, StartBeginsAFreshWindow)
{
    m_now += 9000;
    m_guard.Received(10);
    m_guard.Start();
    m_now += 9000;
    EXPECT_TRUE(m_guard.Received(0));
    EXPECT_EQ(0u, m_guard.WindowBytes());
}

TEST(LowSpeedGuardLimitTest, ZeroBytesOrSecondsNeverAbandon)
{
    DWORD now = 0;
    for (CLowSpeedGuard guard :
         {CLowSpeedGuard(0, 10, [&] { return now; }), CLowSpeedGuard(1000, 0, [&] { return now; })})
    {
        guard.Start();
        now += 3600000;
        EXPECT_TRUE(guard.Received(0));
    }
}

// ---------------------------------------------------------------------------
// Offline marks of servers that failed.

// A clock the test moves by hand.
class ServerBackoffTest : public ::testing::Test
{
protected:
    DWORD m_now = 1000;
    CServerBackoff m_backoff{[this] { return m_now; }};
};

TEST_F(ServerBackoffTest, MarkedServerIsOfflineUntilThePeriodEnds)
{
    EXPECT_FALSE(m_backoff.IsOffline("127.0.0.1:80"));
    m_backoff.MarkOffline("127.0.0.1:80", 300);
    m_now += 299999;
    EXPECT_TRUE(m_backoff.IsOffline("127.0.0.1:80"));
    m_now += 1;
    EXPECT_FALSE(m_backoff.IsOffline("127.0.0.1:80"));
}

TEST_F(ServerBackoffTest, MarkCoversOnlyThatHostAndPortWithoutRegardToCase)
{
    m_backoff.MarkOffline("Symbols.Example:80", 300);
    EXPECT_TRUE(m_backoff.IsOffline("symbols.example:80"));
    EXPECT_FALSE(m_backoff.IsOffline("symbols.example:81"));
    EXPECT_FALSE(m_backoff.IsOffline("symbols.example2:80"));
}

TEST_F(ServerBackoffTest, PeriodSurvivesTheTickCountWrappingAndHugePeriodsDoNotOverflow)
{
    m_now = 0xFFFFF000u;
    m_backoff.MarkOffline("127.0.0.1:80", 10);
    m_backoff.MarkOffline("127.0.0.1:81", 0xFFFFFFFFu);
    m_now += 0x2000; // wrapped past zero, 8 s later
    EXPECT_TRUE(m_backoff.IsOffline("127.0.0.1:80"));
    m_now += 20u * 24u * 60u * 60u * 1000u;
    EXPECT_TRUE(m_backoff.IsOffline("127.0.0.1:81"));
}

TEST_F(ServerBackoffTest, ZeroSecondsClearsOneMarkAndResetEveryMark)
{
    for (const char* server : {"127.0.0.1:80", "127.0.0.1:81", "127.0.0.1:82"})
        m_backoff.MarkOffline(server, 300);
    m_backoff.MarkOffline("127.0.0.1:80", 0);
    EXPECT_FALSE(m_backoff.IsOffline("127.0.0.1:80"));
    EXPECT_TRUE(m_backoff.IsOffline("127.0.0.1:81"));
    m_backoff.Reset();
    EXPECT_FALSE(m_backoff.IsOffline("127.0.0.1:81"));
    EXPECT_FALSE(m_backoff.IsOffline("127.0.0.1:82"));
}

// ---------------------------------------------------------------------------
// Proxy settings and the route each request takes.

// "host:port" of the proxy a request goes through, or "direct".
std::string Route(const CProxyConfig& config, bool https, const std::string& host)
{
    const CProxyConfig::Endpoint* proxy = config.For(https, host);
    return proxy != nullptr ? proxy->Server() : "direct";
}

CProxyConfig WinInet(const std::string& server, const std::string& bypass = "")
{
    CProxyConfig config;
    std::string why;
    EXPECT_TRUE(config.ParseWinInet(server, bypass, why)) << server << ": " << why;
    return config;
}

TEST(ProxyConfigTest, SingleProxyCarriesBothSchemes)
{
    CProxyConfig config;
    std::string why;
    ASSERT_TRUE(config.ParseSingle(" Proxy.Corp:3128 ", why)) << why;
    EXPECT_EQ("proxy.corp:3128", Route(config, false, "msdl.example.com"));
    EXPECT_EQ("proxy.corp:3128", Route(config, true, "msdl.example.com"));
    ASSERT_TRUE(config.ParseSingle("http://10.0.0.1:8080/", why)) << why;
    EXPECT_EQ("10.0.0.1:8080", Route(config, true, "h"));
}

TEST(ProxyConfigTest, RefusesWhatIsNotHostAndPortAloneOrInAWinInetList)
{
    for (const char* text : {"proxy", "proxy:", ":3128", "proxy:0", "proxy:65536", "proxy:31a8", "pro xy:3128",
                             "user@proxy:3128", "proxy:99999999999999999999"})
    {
        CProxyConfig config;
        std::string why;
        EXPECT_FALSE(config.ParseSingle(text, why)) << text;
        EXPECT_NE(std::string::npos, why.find('"')) << text << ": the reason quotes the value";
        EXPECT_FALSE(config.IsSet()) << text;
    }
    CProxyConfig config;
    std::string why;
    EXPECT_FALSE(config.ParseWinInet("http=web.corp:80;https=secure.corp", "", why));
    EXPECT_FALSE(why.empty());
}

TEST(ProxyConfigTest, WinInetListGivesEachSchemeItsOwnProxyAndTheRestGoDirect)
{
    const CProxyConfig both = WinInet("ftp=ftp.corp:21;http=web.corp:80;https=secure.corp:8443");
    EXPECT_EQ("web.corp:80", Route(both, false, "h"));
    EXPECT_EQ("secure.corp:8443", Route(both, true, "h"));
    const CProxyConfig httpOnly = WinInet("http=web.corp:80");
    EXPECT_EQ("direct", Route(httpOnly, true, "h"));
    EXPECT_EQ("web.corp:80", Route(WinInet("web.corp:80"), true, "h"));
}

TEST(ProxyConfigTest, BypassListSendsMatchingHostsDirect)
{
    const CProxyConfig config = WinInet("proxy:3128", "<local>; *.corp.example ;10.*\tSYMBOLS.example.com");
    EXPECT_EQ("direct", Route(config, true, "symsrv"));
    EXPECT_EQ("direct", Route(config, false, "store.corp.example"));
    EXPECT_EQ("direct", Route(config, false, "10.1.2.3"));
    EXPECT_EQ("direct", Route(config, true, "symbols.example.com"));
    EXPECT_EQ("proxy:3128", Route(config, true, "msdl.example.com"));
    EXPECT_EQ("proxy:3128", Route(config, true, "corp.example"));
}

} // namespace
