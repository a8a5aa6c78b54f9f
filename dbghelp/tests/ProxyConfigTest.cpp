#include "ProxyConfig.h"

#include <string>

#include <gtest/gtest.h>

namespace
{

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
