#include "HttpUrl.h"

#include <string>

#include <gtest/gtest.h>

namespace
{

CHttpUrl Parsed(const std::string& text)
{
    CHttpUrl url;
    std::string why;
    EXPECT_TRUE(url.Parse(text, why)) << text << ": " << why;
    return url;
}

// The target that location leads to from base, or "refused: why".
std::string Resolved(const std::string& base, const std::string& location)
{
    CHttpUrl next;
    std::string why;
    if (!Parsed(base).Resolve(location, next, why))
        return "refused: " + why;
    return next.Text();
}

TEST(HttpUrlTest, ParsesHostInLowerCasePortAndTargetWithoutFragment)
{
    const CHttpUrl url = Parsed("HTTP://Sym.Example-1.COM:8080/a/b.pdb?x=1#part");
    EXPECT_EQ("sym.example-1.com", url.Host());
    EXPECT_EQ(8080u, url.Port());
    EXPECT_EQ("/a/b.pdb?x=1", url.Target());
    EXPECT_EQ("sym.example-1.com:8080", url.Server());
    EXPECT_EQ("sym.example-1.com:8080", url.HostHeader());
    EXPECT_EQ("http://sym.example-1.com:8080/a/b.pdb?x=1", url.Text());
}

TEST(HttpUrlTest, DefaultPortIsLeftOutOfHostHeaderAndEmptyPathIsRoot)
{
    const CHttpUrl url = Parsed("http://store");
    EXPECT_EQ(80u, url.Port());
    EXPECT_EQ("/", url.Target());
    EXPECT_EQ("store:80", url.Server());
    EXPECT_EQ("store", url.HostHeader());
    EXPECT_EQ("/?q", Parsed("http://store?q").Target());
}

TEST(HttpUrlTest, PercentEncodesWhatMayNotStandInATarget)
{
    EXPECT_EQ("/dir/a%20%22%3C%3E%5C%5E%60%7B%7C%7D%7F%E9.pdb",
              Parsed("http://h/dir/a \"<>\\^`{|}\x7f\xe9.pdb").Target());
    EXPECT_EQ("/-._~!$&'()*+,;=:@/?", Parsed("http://h/-._~!$&'()*+,;=:@/?").Target());
}

TEST(HttpUrlTest, KeepsValidEscapesAndEncodesStrayPercent)
{
    EXPECT_EQ("/a%20b/100%25/c%254", Parsed("http://h/a%20b/100%/c%4").Target());
    EXPECT_EQ("/%252x", Parsed("http://h/%2x").Target());
}

TEST(HttpUrlTest, RefusesWhatItCannotFetch)
{
    const char* const refused[] = {
        "httpx://h/a.pdb",   "ftp://h/a.pdb",
        "h/a.pdb",           "http:///a.pdb",
        "https://:80/a.pdb", "http://a b/x",
        "http://h\x01/x",    "http://h%41/x",
        "http://user@h/x",   "http://h:/x",
        "http://h:0/x",      "http://h:65536/x",
        "http://h:8a/x",     "http://h:99999999999999/x",
    };
    for (const char* text : refused)
    {
        CHttpUrl url;
        std::string why;
        EXPECT_FALSE(url.Parse(text, why)) << text;
        EXPECT_FALSE(why.empty()) << text;
    }
    CHttpUrl url;
    std::string why;
    EXPECT_FALSE(url.Parse("http://h/" + std::string(CHttpUrl::kMaxLength, 'a'), why));
    EXPECT_TRUE(url.Parse("http://h:65535/" + std::string(CHttpUrl::kMaxLength - 15, 'a'), why)) << why;
}

TEST(HttpUrlTest, ResolvesRelativeLocationsOnTheSameServer)
{
    const std::string base = "http://h:81/a/b/c.pdb?x";
    EXPECT_EQ("http://h:81/a/b/d.pdb", Resolved(base, "d.pdb"));
    EXPECT_EQ("http://h:81/a/d.pdb", Resolved(base, "../d.pdb"));
    EXPECT_EQ("http://h:81/", Resolved(base, "../../../../.."));
    EXPECT_EQ("http://h:81/a/", Resolved(base, "./.."));
    EXPECT_EQ("http://h:81/x/z", Resolved(base, "/x/./y/../z"));
    EXPECT_EQ("http://h:81/a/b/c.pdb?q", Resolved(base, "?q"));
    EXPECT_EQ("http://h:81/a/b/c.pdb?x", Resolved(base, ""));
    EXPECT_EQ("http://h:81/a/b/e%20f", Resolved(base, "e f#part"));
}

TEST(HttpUrlTest, ResolvesAbsoluteAndNetworkPathLocations)
{
    EXPECT_EQ("http://other:82/p", Resolved("http://h/a", "HTTP://Other:82/p"));
    EXPECT_EQ("http://mirror/p", Resolved("http://h:81/a", "//mirror/p"));
}

TEST(HttpUrlTest, RefusesLocationsOfOtherProtocols)
{
    EXPECT_EQ("refused: redirect to another protocol: ftp://h/a", Resolved("http://h/a", "ftp://h/a"));
    EXPECT_EQ(0u, Resolved("https://h/a", "file:///a").find("refused: "));
    EXPECT_EQ(0u, Resolved("http://h/a", "//bad host/a").find("refused: "));
}

TEST(HttpUrlTest, HttpsHasPort443AndKeepsItsSchemeInEveryForm)
{
    const CHttpUrl url = Parsed("HTTPS://Msdl.Example.com/download/symbols");
    EXPECT_TRUE(url.IsHttps());
    EXPECT_EQ(443u, url.Port());
    EXPECT_EQ("msdl.example.com", url.HostHeader());
    EXPECT_EQ("msdl.example.com:443", url.Server());
    EXPECT_EQ("https://msdl.example.com/download/symbols", url.Text());
    EXPECT_EQ("https://h:8443/x", Parsed("https://h:8443/x").Text());
    EXPECT_FALSE(Parsed("http://h:443/x").IsHttps());
    EXPECT_EQ("h:443", Parsed("http://h:443/x").HostHeader());
}

TEST(HttpUrlTest, RedirectKeepsHttpsForRelativeAndNetworkPathLocations)
{
    EXPECT_EQ("https://h/a/d.pdb", Resolved("https://h/a/c.pdb", "d.pdb"));
    EXPECT_EQ("https://mirror/p", Resolved("https://h/a", "//mirror/p"));
}

TEST(HttpUrlTest, RedirectMayGoFromHttpToHttpsButNeverBack)
{
    EXPECT_EQ("https://h/a", Resolved("http://h/a", "https://h/a"));
    EXPECT_EQ("https://other:8443/b", Resolved("https://h/a", "HTTPS://other:8443/b"));
    EXPECT_EQ("refused: redirect from https to http: http://h/a", Resolved("https://h/a", "http://h/a"));
    EXPECT_EQ("refused: redirect from https to http: HTTP://h:443/a", Resolved("https://h/a", "HTTP://h:443/a"));
}

} // namespace
