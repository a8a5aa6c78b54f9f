#include "HttpStoreFixture.h"

#include "SystemProxySetting.h"

// symsrv.ini's [Http] settings and the system's proxy setting, through the
// library's exports: "trickle" sends every reply one byte every 100 ms,
// "proxy" is the loopback proxy, which logs what it relays.
class HttpStoreSettingsTest : public HttpStoreFixture
{
protected:
    std::string HttpsChain() const { return "srv*" + Downstream() + "*" + TlsUrl("tlssamples", "/store"); }
    std::string HttpChain() const { return "srv*" + Downstream() + "*" + Url("samples", "/store"); }
    static std::string Proxy() { return "127.0.0.1:" + std::to_string(Port("proxy")); }
};

TEST_F(HttpStoreSettingsTest, AbandonsATricklingServerOnceAndLoadsEveryKindFromTheNext)
{
    UseSymsrvIni("[Http]\r\nLowSpeedBytes=1000\r\nLowSpeedSeconds=2\r\n");
    const std::string path = "srv*" + m_work->File("trickledown") + "*" + Url("trickle") + ";" + HttpsChain();
    LoadEachKind(path);
    LoadEachKind(path);
    EXPECT_EQ(1u, CountLines(" below the low-speed limit of 1000 bytes per 2 s; skipped for 300 s\n")) << AllLines();
    EXPECT_EQ(1u, CountLines(" - timed out")) << AllLines();
    // Six files per round, one of them the one that timed out.
    EXPECT_EQ(11u, CountLines(" - server skipped (offline)")) << AllLines();
    EXPECT_TRUE(ListFiles(m_work->File("trickledown")).empty());
}

TEST_F(HttpStoreSettingsTest, SendsEveryKindThroughTheProxyOfSymsrvIni)
{
    UseSymsrvIni("[Http]\r\nProxy=" + Proxy() + "\r\n");
    LoadEachKind(HttpsChain());
    EXPECT_EQ(6u, CountLines(" through proxy " + Proxy() + "\n")) << AllLines();
    m_lines.clear();
    LoadEachKind("srv*" + m_work->File("down2") + "*" + Url("samples", "/store"));
    EXPECT_EQ(6u, CountLines(" through proxy " + Proxy() + "\n")) << AllLines();
}

TEST_F(HttpStoreSettingsTest, TakesTheSystemProxyWhenSymsrvIniNamesNone)
{
    CSystemProxySetting system("http=" + Proxy() + ";https=" + Proxy());
    ASSERT_TRUE(system.IsActive());
    ASSERT_TRUE(Lib().Initialize(Process(), nullptr, FALSE));
    LoadEachKind(HttpsChain());
    EXPECT_EQ(6u, CountLines(" through proxy " + Proxy() + "\n")) << AllLines();
}

TEST_F(HttpStoreSettingsTest, SystemProxyBypassListReachesListedHostsDirectly)
{
    CSystemProxySetting system(Proxy(), "<local>;localhost");
    ASSERT_TRUE(system.IsActive());
    ASSERT_TRUE(Lib().Initialize(Process(), nullptr, FALSE));
    LoadEachKind(HttpsChain());
    EXPECT_EQ(0u, CountLines(" through proxy ")) << AllLines();
}

TEST_F(HttpStoreSettingsTest, DirectInSymsrvIniOverridesTheSystemProxy)
{
    CSystemProxySetting system("127.0.0.1:" + std::to_string(Port("mute")));
    ASSERT_TRUE(system.IsActive());
    UseSymsrvIni("[Http]\r\nProxy=direct\r\n");
    LoadEachKind(HttpChain());
    EXPECT_EQ(0u, CountLines(" through proxy ")) << AllLines();
}

TEST_F(HttpStoreSettingsTest, UnusableProxySettingIsReportedAndNothingIsFetched)
{
    UseSymsrvIni("[Http]\r\nProxy=proxy.corp\r\n");
    const IMAGEHLP_MODULE64 module = Load(Image("nb10.dll"), HttpChain(), kExact);
    EXPECT_EQ(SymNone, module.SymType);
    EXPECT_EQ(1u, CountLines(": [Http] Proxy in symsrv.ini: \"proxy.corp\" is not host:port\n")) << AllLines();
    EXPECT_TRUE(ListFiles(Downstream()).empty());
}
