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

// The host in lower case, the default port of the scheme left out of the
// Host header and the text, an empty path as the root, no fragment; https
// is kept in every form.
TEST(HttpUrlTest, ParsesSchemeHostPortAndTarget)
{
    const struct
    {
        const char* text;
        bool https;
        unsigned port;
        const char* target;
        const char* server;
        const char* hostHeader;
        const char* normal;
    } cases[] = {
        {"HTTP://Sym.Example-1.COM:8080/a/b.pdb?x=1#part", false, 8080, "/a/b.pdb?x=1", "sym.example-1.com:8080",
         "sym.example-1.com:8080", "http://sym.example-1.com:8080/a/b.pdb?x=1"},
        {"http://store", false, 80, "/", "store:80", "store", "http://store/"},
        {"http://store?q", false, 80, "/?q", "store:80", "store", "http://store/?q"},
        {"HTTPS://Msdl.Example.com/download/symbols", true, 443, "/download/symbols", "msdl.example.com:443",
         "msdl.example.com", "https://msdl.example.com/download/symbols"},
        {"https://h:8443/x", true, 8443, "/x", "h:8443", "h:8443", "https://h:8443/x"},
        {"http://h:443/x", false, 443, "/x", "h:443", "h:443", "http://h:443/x"},
    };
    for (const auto& c : cases)
    {
        const CHttpUrl url = Parsed(c.text);
        EXPECT_EQ(c.https, url.IsHttps()) << c.text;
        EXPECT_EQ(c.port, url.Port()) << c.text;
        EXPECT_EQ(c.target, url.Target()) << c.text;
        EXPECT_EQ(c.server, url.Server()) << c.text;
        EXPECT_EQ(c.hostHeader, url.HostHeader()) << c.text;
        EXPECT_EQ(c.normal, url.Text()) << c.text;
    }
    EXPECT_EQ("sym.example-1.com", Parsed("HTTP://Sym.Example-1.COM:8080/").Host());
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

// A redirect keeps the scheme unless it names one; it may go from http to
// https, never back, and never to another protocol.
TEST(HttpUrlTest, ResolvesLocationsAgainstTheUrlTheyCameFrom)
{
    const std::string base = "http://h:81/a/b/c.pdb?x";
    const struct
    {
        std::string base;
        const char* location;
        const char* expected; // a prefix where it ends in "refused: "
    } cases[] = {
        {base, "d.pdb", "http://h:81/a/b/d.pdb"},
        {base, "../d.pdb", "http://h:81/a/d.pdb"},
        {base, "../../../../..", "http://h:81/"},
        {base, "./..", "http://h:81/a/"},
        {base, "/x/./y/../z", "http://h:81/x/z"},
        {base, "?q", "http://h:81/a/b/c.pdb?q"},
        {base, "", "http://h:81/a/b/c.pdb?x"},
        {base, "e f#part", "http://h:81/a/b/e%20f"},
        {"http://h/a", "HTTP://Other:82/p", "http://other:82/p"},
        {"http://h:81/a", "//mirror/p", "http://mirror/p"},
        {"https://h/a/c.pdb", "d.pdb", "https://h/a/d.pdb"},
        {"https://h/a", "//mirror/p", "https://mirror/p"},
        {"http://h/a", "https://h/a", "https://h/a"},
        {"https://h/a", "HTTPS://other:8443/b", "https://other:8443/b"},
        {"http://h/a", "ftp://h/a", "refused: redirect to another protocol: ftp://h/a"},
        {"https://h/a", "file:///a", "refused: "},
        {"http://h/a", "//bad host/a", "refused: "},
        {"https://h/a", "http://h/a", "refused: redirect from https to http: http://h/a"},
        {"https://h/a", "HTTP://h:443/a", "refused: redirect from https to http: HTTP://h:443/a"},
    };
    for (const auto& c : cases)
    {
        const std::string expected = c.expected;
        const std::string resolved = Resolved(c.base, c.location);
        if (expected == "refused: ")
            EXPECT_EQ(0u, resolved.find(expected)) << c.base << " + " << c.location << ": " << resolved;
        else
            EXPECT_EQ(expected, resolved) << c.base << " + " << c.location;
    }
}

} // namespace
