#include "HttpStoreFixture.h"

#include <memory>

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

// The proxy of symsrv.ini wins over the system's; without one the system's
// proxy and bypass list count. Each case fetches into a downstream store of
// its own, so that every file is fetched again.
TEST_F(HttpStoreSettingsTest, RoutesEveryKindByTheProxySettingInForce)
{
    const std::string mute = "127.0.0.1:" + std::to_string(Port("mute"));
    const struct
    {
        const char* what;
        std::string system;
        const char* bypass;
        std::string ini;
        bool https;
        size_t through;
    } cases[] = {
        {"symsrv.ini proxy, https", "", "", "[Http]\r\nProxy=" + Proxy() + "\r\n", true, 6},
        {"symsrv.ini proxy, http", "", "", "[Http]\r\nProxy=" + Proxy() + "\r\n", false, 6},
        {"system proxy per scheme", "http=" + Proxy() + ";https=" + Proxy(), "", "", true, 6},
        {"system bypass list", Proxy(), "<local>;localhost", "", true, 0},
        {"direct in symsrv.ini over a system proxy", mute, "", "[Http]\r\nProxy=direct\r\n", false, 0},
    };
    int round = 0;
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        std::unique_ptr<CSystemProxySetting> system;
        if (!c.system.empty())
        {
            system.reset(new CSystemProxySetting(c.system, c.bypass));
            ASSERT_TRUE(system->IsActive());
        }
        UseSymsrvIni(c.ini);
        m_lines.clear();
        const std::string down = "srv*" + m_work->File("down" + std::to_string(++round)) + "*";
        LoadEachKind(down + (c.https ? TlsUrl("tlssamples", "/store") : Url("samples", "/store")));
        EXPECT_EQ(c.through, CountLines(" through proxy " + Proxy() + "\n")) << AllLines();
        EXPECT_EQ(c.through, CountLines(" through proxy ")) << AllLines();
    }
}

TEST_F(HttpStoreSettingsTest, UnusableProxySettingIsReportedAndNothingIsFetched)
{
    UseSymsrvIni("[Http]\r\nProxy=proxy.corp\r\n");
    const IMAGEHLP_MODULE64 module = Load(Image("nb10.dll"), HttpChain(), kExact);
    EXPECT_EQ(SymNone, module.SymType);
    EXPECT_EQ(1u, CountLines(": [Http] Proxy in symsrv.ini: \"proxy.corp\" is not host:port\n")) << AllLines();
    EXPECT_TRUE(ListFiles(Downstream()).empty());
}
