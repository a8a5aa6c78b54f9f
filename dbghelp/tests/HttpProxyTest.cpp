#include <winsock2.h>

#include "HttpClient.h"

#include <string>

#include <gtest/gtest.h>

#include "HttpTestSupport.h"
#include "TestSupport.h"

namespace
{

// Downloads through loopback_proxy.py, which CTest's http fixture started;
// it logs "GET URL forwarded" and "CONNECT HOST:PORT 200" for what it relays.
class HttpProxyTest : public HttpDownloadFixture
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ServersStarted("proxy"));
        UseProxy("127.0.0.1:" + std::to_string(HttpServerPort("proxy")));
    }

    void UseProxy(const std::string& proxy, const std::string& bypass = "")
    {
        HttpOptions options;
        std::string why;
        ASSERT_TRUE(options.proxy.ParseWinInet(proxy, bypass, why)) << why;
        m_client.SetOptions(options);
    }

    std::string Through() const { return " through proxy 127.0.0.1:" + std::to_string(HttpServerPort("proxy")) + "\n"; }
};

TEST_F(HttpProxyTest, PlainRequestGoesToTheProxyInAbsoluteForm)
{
    // The query makes the request this test's own in the shared proxy's log.
    const std::string url = LoopbackUrl(HttpServerPort("store"), "/small.bin?proxy-test");
    ASSERT_EQ(HttpResult::Ok, Fetch(url)) << m_diag.All();
    EXPECT_TRUE(m_diag.Has("SYMSRV:  HTTP GET " + url + Through())) << m_diag.All();
    EXPECT_EQ(1u, CountLogLines("proxy", "GET " + url + " forwarded"));
    EXPECT_EQ(ReadFileBytes(StoreFile("small.bin")), ReadFileBytes(Target()));
}

TEST_F(HttpProxyTest, HttpsGoesThroughATunnelWithTheCertificateChecked)
{
    ASSERT_EQ(HttpResult::Ok, Fetch(TlsUrl(HttpServerPort("tls"), "/small.bin"))) << m_diag.All();
    EXPECT_TRUE(m_diag.Has("SYMSRV:  HTTP GET " + TlsUrl(HttpServerPort("tls"), "/small.bin") + Through()))
        << m_diag.All();
    EXPECT_LE(1u, CountLogLines("proxy", "CONNECT localhost:" + std::to_string(HttpServerPort("tls")) + " 200"));
    EXPECT_EQ(ReadFileBytes(StoreFile("small.bin")), ReadFileBytes(Target()));

    EXPECT_EQ(HttpResult::Failed, Fetch(TlsUrl(HttpServerPort("tlswronghost"), "/small.bin")));
    EXPECT_EQ(1u,
              m_diag.CountHolding(" refused: certificate refused: it was issued for another host name than localhost"))
        << m_diag.All();
}

TEST_F(HttpProxyTest, TunnelTheProxyRefusesIsFailed)
{
    // The test proxy refuses every host but the loopback one, without a lookup.
    EXPECT_EQ(HttpResult::Failed, Fetch("https://symbols.invalid/a.pdb"));
    EXPECT_TRUE(m_diag.Has("SYMSRV:  Proxy 127.0.0.1:" + std::to_string(HttpServerPort("proxy")) +
                           " refused a tunnel to symbols.invalid:443: HTTP 403 Forbidden\n"))
        << m_diag.All();
    EXPECT_TRUE(LeftNothing());
}

TEST_F(HttpProxyTest, ServerTheProxyCannotReachIsUnreachableAndSkipped)
{
    const std::string url = LoopbackUrl(FreeLoopbackPort(), "/small.bin");
    EXPECT_EQ(HttpResult::Unreachable, Fetch(url));
    EXPECT_EQ(1u, m_diag.CountHolding(" could not be reached (proxy 127.0.0.1:" +
                                      std::to_string(HttpServerPort("proxy")) + " could not reach it)"))
        << m_diag.All();
    EXPECT_EQ(HttpResult::Offline, Fetch(url));
}

TEST_F(HttpProxyTest, ProxyThatCannotBeReachedIsSkippedForEveryServer)
{
    const unsigned dead = FreeLoopbackPort();
    UseProxy("127.0.0.1:" + std::to_string(dead));
    EXPECT_EQ(HttpResult::Unreachable, Fetch(LoopbackUrl(HttpServerPort("store"), "/small.bin")));
    EXPECT_EQ(1u, m_diag.CountStartingWith("SYMSRV:  proxy 127.0.0.1:" + std::to_string(dead) +
                                           " could not be reached (connection refused)"))
        << m_diag.All();
    EXPECT_EQ(HttpResult::Offline, Fetch(TlsUrl(HttpServerPort("tls"), "/small.bin")));
    EXPECT_TRUE(m_diag.Has("SYMSRV:  proxy 127.0.0.1:" + std::to_string(dead) + " is offline; skipped\n"));
}

TEST_F(HttpProxyTest, BypassedHostIsAskedDirectly)
{
    UseProxy("127.0.0.1:" + std::to_string(HttpServerPort("proxy")), "localhost;127.0.0.*");
    ASSERT_EQ(HttpResult::Ok, Fetch(TlsUrl(HttpServerPort("tls"), "/small.bin"))) << m_diag.All();
    ASSERT_EQ(HttpResult::Ok, Fetch(LoopbackUrl(HttpServerPort("store"), "/small.bin"))) << m_diag.All();
    EXPECT_EQ(0u, m_diag.CountHolding(" through proxy ")) << m_diag.All();
}

TEST_F(HttpProxyTest, UnusableProxySettingRefusesEveryDownload)
{
    HttpOptions options;
    options.proxyError = "[Http] Proxy in symsrv.ini: \"proxy\" is not host:port";
    m_client.SetOptions(options);
    EXPECT_EQ(HttpResult::Failed, Fetch(LoopbackUrl(HttpServerPort("store"), "/small.bin")));
    EXPECT_TRUE(m_diag.Has("SYMSRV:  Cannot fetch " + LoopbackUrl(HttpServerPort("store"), "/small.bin") +
                           ": [Http] Proxy in symsrv.ini: \"proxy\" is not host:port\n"))
        << m_diag.All();
}

} // namespace
