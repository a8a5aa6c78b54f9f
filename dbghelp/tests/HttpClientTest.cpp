#include <winsock2.h>

#include "HttpClient.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "HttpTestSupport.h"
#include "ScopedHandle.h"
#include "TestSupport.h"

namespace
{

// ---------------------------------------------------------------------------
// Against the serve_store.py instances that CTest started: "store" and
// "mirror" over HTTP, "tls" over HTTPS with a certificate for localhost from
// the test CA that the tls fixture made trusted; "tlsuntrusted",
// "tlswronghost" and "tlsexpired" present certificates that must be refused.

class HttpClientTest : public HttpDownloadFixture
{
protected:
    void SetUp() override
    {
        for (const char* server : {"store", "mirror", "mute", "tls"})
            ASSERT_TRUE(ServersStarted(server));
    }

    static std::string Store(const std::string& path) { return LoopbackUrl(HttpServerPort("store"), path); }
    static std::string Tls(const std::string& path, const char* server = "tls")
    {
        return TlsUrl(HttpServerPort(server), path);
    }
    static std::string Port(const char* server) { return std::to_string(HttpServerPort(server)); }
};

// Over HTTP and HTTPS alike; a file already at the target is replaced.
TEST_F(HttpClientTest, DownloadsExactBytesReplacingTheTargetAndReportsEachStep)
{
    const std::string expected = ReadFileBytes(StoreFile("small.bin"));
    ASSERT_EQ(77825u, expected.size());
    for (const std::string& url : {Store("/small.bin"), Tls("/small.bin")})
    {
        SCOPED_TRACE(url);
        ASSERT_TRUE(WriteFileBytes(Target(), "previous"));
        CDiagLines diag;
        unsigned long long bytes = 0;
        ASSERT_EQ(HttpResult::Ok, m_client.Download(url, Target(), diag.Sink(), &bytes)) << diag.All();
        EXPECT_EQ(expected, ReadFileBytes(Target()));
        EXPECT_EQ(77825u, bytes);
        EXPECT_EQ(std::vector<std::string>{"file.bin"}, ListFiles(m_dir.Path()));
        EXPECT_EQ((std::vector<std::string>{"SYMSRV:  HTTP GET " + url + "\n", "SYMSRV:  HTTP 200 OK\n",
                                            "SYMSRV:  Received 77825 bytes\n"}),
                  diag.Lines());
    }
}

// A kept TLS connection carries file after file, misses between them, with
// its session's leftover bytes carried from one reply to the next.
TEST_F(HttpClientTest, KeptTlsConnectionCarriesEveryRequestOfASession)
{
    ASSERT_TRUE(ServersStarted("tlskeep"));
    const std::string small = ReadFileBytes(StoreFile("small.bin"));
    const std::string big = ReadFileBytes(StoreFile("big.bin"));
    for (int i = 0; i < 3; ++i)
    {
        ASSERT_EQ(HttpResult::Ok, Fetch(Tls("/small.bin", "tlskeep"))) << m_diag.All();
        EXPECT_EQ(small, ReadFileBytes(Target()));
        ASSERT_EQ(HttpResult::NotFound, Fetch(Tls("/no/such.pdb", "tlskeep"))) << m_diag.All();
        ASSERT_EQ(HttpResult::Ok, Fetch(Tls("/big.bin", "tlskeep"))) << m_diag.All();
        EXPECT_TRUE(big == ReadFileBytes(Target()));
    }
    EXPECT_EQ(1u, CountLogLines("tlskeep", "CONNECTION"));
    EXPECT_EQ(9u, CountLogLines("tlskeep", "GET "));
}

// A failure of one file is no failure of the server: it stays online.
TEST_F(HttpClientTest, MissingGoneOrFailingFilesLeaveNoFileAndTheServerOnline)
{
    const struct
    {
        std::string url;
        HttpResult result;
        const char* line;
    } cases[] = {
        {Store("/no/such.pdb"), HttpResult::NotFound, "SYMSRV:  HTTP 404 Not Found\n"},
        {Store("/gone/small.bin"), HttpResult::NotFound, "SYMSRV:  HTTP 410 "},
        {Store("/error/small.bin"), HttpResult::Failed, "SYMSRV:  HTTP 500 "},
        {Tls("/no/such.pdb"), HttpResult::NotFound, "SYMSRV:  HTTP 404 Not Found\n"},
    };
    for (const auto& c : cases)
    {
        CDiagLines diag;
        EXPECT_EQ(c.result, m_client.Download(c.url, Target(), diag.Sink())) << c.url;
        EXPECT_EQ(1u, diag.CountStartingWith(c.line)) << diag.All();
        EXPECT_TRUE(LeftNothing()) << c.url;
    }
    EXPECT_EQ(HttpResult::Ok, Fetch(Store("/small.bin")));
    EXPECT_EQ(HttpResult::Ok, Fetch(Tls("/small.bin")));
}

TEST_F(HttpClientTest, CutBodyIsFailedAndLeavesTheExistingTargetAsItWas)
{
    ASSERT_TRUE(WriteFileBytes(Target(), "previous"));
    unsigned long long bytes = 0;
    EXPECT_EQ(HttpResult::Failed, Fetch(Store("/cut/small.bin"), &bytes));
    EXPECT_EQ(1000u, bytes);
    EXPECT_EQ("previous", ReadFileBytes(Target()));
    EXPECT_EQ(std::vector<std::string>{"file.bin"}, ListFiles(m_dir.Path()));
}

TEST_F(HttpClientTest, FollowsRedirectsOnTheSameServerToAnotherAndFromHttpToHttps)
{
    const struct
    {
        std::string url;
        std::string followed;
    } cases[] = {
        {Store("/moved/small.bin"), Store("/small.bin")},
        {Store("/elsewhere/small.bin"), LoopbackUrl(HttpServerPort("mirror"), "/small.bin")},
        {Store("/tohttps/small.bin"), Tls("/small.bin")},
    };
    for (const auto& c : cases)
    {
        CDiagLines diag;
        ASSERT_EQ(HttpResult::Ok, m_client.Download(c.url, Target(), diag.Sink())) << diag.All();
        EXPECT_EQ(ReadFileBytes(StoreFile("small.bin")), ReadFileBytes(Target())) << c.url;
        EXPECT_TRUE(diag.Has("SYMSRV:  HTTP GET " + c.followed + "\n")) << diag.All();
    }
}

TEST_F(HttpClientTest, RedirectLoopStopsAfterMaxRedirects)
{
    HttpOptions options;
    options.maxRedirects = 3;
    m_client.SetOptions(options);
    EXPECT_EQ(HttpResult::Failed, Fetch(Store("/loop/small.bin")));
    EXPECT_EQ(4u, m_diag.CountStartingWith("SYMSRV:  HTTP GET ")) << m_diag.All();
    EXPECT_TRUE(LeftNothing());
}

TEST_F(HttpClientTest, RedirectFromHttpsToHttpIsRefused)
{
    EXPECT_EQ(HttpResult::Failed, Fetch(Tls("/tohttp/https-test/small.bin")));
    EXPECT_EQ(
        1u, m_diag.CountStartingWith("SYMSRV:  Redirect not followed: redirect from https to http: http://127.0.0.1:"))
        << m_diag.All();
    EXPECT_EQ(0u, CountRequests("mirror", "/https-test/small.bin")) << "the http server was asked";
    EXPECT_TRUE(LeftNothing());
}

// The reason in one line, nothing left behind, and the server skipped afterwards.
TEST_F(HttpClientTest, RefusesEachBadCertificateOrPlainServerAndSkipsIt)
{
    const std::string refused = " refused: certificate refused: ";
    const std::string skipped = "; skipped for 300 s\n";
    const struct
    {
        std::string url;
        std::string line;
    } cases[] = {
        {Tls("/small.bin", "tlsuntrusted"), "SYMSRV:  localhost:" + Port("tlsuntrusted") + refused +
                                                "its root certificate is not one this system trusts" + skipped},
        {Tls("/small.bin", "tlswronghost"), "SYMSRV:  localhost:" + Port("tlswronghost") + refused +
                                                "it was issued for another host name than localhost" + skipped},
        {Tls("/small.bin", "tlsexpired"), "SYMSRV:  localhost:" + Port("tlsexpired") + refused +
                                              "it or a certificate in its chain has expired or is not valid yet" +
                                              skipped},
        {Tls("/small.bin", "tlsnotca"), "SYMSRV:  localhost:" + Port("tlsnotca") + refused +
                                            "its issuer Quillmar Test Not A CA is not a certificate authority" +
                                            skipped},
        {Tls("/small.bin", "tlskeyusage"),
         "SYMSRV:  localhost:" + Port("tlskeyusage") + refused +
             "its key usage allows neither digital signatures nor key encipherment, so not TLS server "
             "authentication" +
             skipped},
        // The certificate names "localhost"; 127.0.0.1 is the same server but
        // not the name it was issued for.
        {"https://127.0.0.1:" + Port("tls") + "/small.bin",
         refused + "it was issued for another host name than 127.0.0.1"},
        {Tls("/small.bin", "mirror"),
         "SYMSRV:  localhost:" + Port("mirror") + " refused: the server's answer is not TLS (it begins \""},
    };
    for (const auto& c : cases)
    {
        CDiagLines diag;
        EXPECT_EQ(HttpResult::Failed, m_client.Download(c.url, Target(), diag.Sink())) << c.url;
        EXPECT_EQ(1u, diag.CountHolding(c.line)) << "expected " << c.line << "got\n" << diag.All();
        EXPECT_TRUE(LeftNothing()) << c.url;
        EXPECT_EQ(HttpResult::Offline, m_client.Download(c.url, Target(), diag.Sink())) << c.url;
    }
}

// The mute server is shared with the symbol library's tests, which may run at
// the same time: requests are told apart by a path of this test's own.
TEST_F(HttpClientTest, MuteServerTimesOutAndIsThenSkippedWithoutRequest)
{
    HttpOptions options;
    options.timeoutMs = 1000;
    m_client.SetOptions(options);
    const std::string mute = LoopbackUrl(HttpServerPort("mute"), "/http-client-test/mute.bin");
    EXPECT_EQ(HttpResult::TimedOut, Fetch(mute));
    EXPECT_TRUE(
        m_diag.Has("SYMSRV:  127.0.0.1:" + Port("mute") + " did not answer within 1000 ms; skipped for 300 s\n"))
        << m_diag.All();
    EXPECT_TRUE(LeftNothing());
    ASSERT_EQ(1u, CountRequests("mute", "/http-client-test/mute.bin"));

    EXPECT_EQ(HttpResult::Offline, Fetch(mute));
    EXPECT_EQ(1u, CountRequests("mute", "/http-client-test/mute.bin"));
    EXPECT_TRUE(m_diag.Has("SYMSRV:  127.0.0.1:" + Port("mute") + " is offline; skipped\n")) << m_diag.All();
    // The mark covers that server only.
    EXPECT_EQ(HttpResult::Ok, Fetch(Store("/small.bin")));
}

TEST_F(HttpClientTest, RefusedConnectionIsUnreachableThenOfflineUntilTheMarksAreReset)
{
    const unsigned port = FreeLoopbackPort();
    EXPECT_EQ(HttpResult::Unreachable, Fetch(LoopbackUrl(port, "/small.bin")));
    EXPECT_EQ(1u, m_diag.CountStartingWith("SYMSRV:  127.0.0.1:" + std::to_string(port) + " could not be reached"))
        << m_diag.All();
    EXPECT_EQ(HttpResult::Offline, Fetch(LoopbackUrl(port, "/small.bin")));
    m_client.ResetOffline();
    EXPECT_EQ(HttpResult::Unreachable, Fetch(LoopbackUrl(port, "/small.bin")));
}

// Neither a target in a missing directory nor another scheme is fetched.
TEST_F(HttpClientTest, DownloadsThatCannotBeFetchedAreFailedLeavingNothing)
{
    EXPECT_EQ(HttpResult::Failed, m_client.Download(Store("/small.bin"), m_dir.File("none\\file.bin"), m_diag.Sink()));
    EXPECT_TRUE(LeftNothing());
    CDiagLines other;
    EXPECT_EQ(HttpResult::Failed, m_client.Download("ftp://127.0.0.1/small.bin", Target(), other.Sink()));
    EXPECT_EQ(HttpResult::Failed, m_client.Download("file://C:/small.bin", Target(), other.Sink()));
    EXPECT_EQ(0u, other.CountStartingWith("SYMSRV:  HTTP GET")) << "connected for another scheme: " << other.All();
    EXPECT_TRUE(LeftNothing());
}

// One download over HTTP and one over HTTPS, each of the large file.
TEST_F(HttpClientTest, TwoThreadsDownloadAtOnce)
{
    HttpResult second = HttpResult::Failed;
    CDiagLines otherDiag;
    CJoinedThread other([&]
                        { second = m_client.Download(Tls("/big.bin"), m_dir.File("second.bin"), otherDiag.Sink()); });
    const HttpResult first = m_client.Download(Store("/big.bin"), m_dir.File("first.bin"), m_diag.Sink());
    other.Join();
    ASSERT_EQ(HttpResult::Ok, first) << m_diag.All();
    ASSERT_EQ(HttpResult::Ok, second) << otherDiag.All();
    const std::string expected = ReadFileBytes(StoreFile("big.bin"));
    EXPECT_TRUE(expected == ReadFileBytes(m_dir.File("first.bin")));
    EXPECT_TRUE(expected == ReadFileBytes(m_dir.File("second.bin")));
}

TEST_F(HttpClientTest, TwoThreadsDownloadingOneTargetLeaveOneWholeFile)
{
    HttpResult second = HttpResult::Failed;
    CDiagLines otherDiag;
    CJoinedThread other([&] { second = m_client.Download(Store("/big.bin"), Target(), otherDiag.Sink()); });
    const HttpResult first = Fetch(Store("/big.bin"));
    other.Join();
    EXPECT_EQ(HttpResult::Ok, first) << m_diag.All();
    EXPECT_EQ(HttpResult::Ok, second) << otherDiag.All();
    EXPECT_TRUE(ReadFileBytes(StoreFile("big.bin")) == ReadFileBytes(Target()));
    EXPECT_EQ(std::vector<std::string>{"file.bin"}, ListFiles(m_dir.Path()));
}

// ---------------------------------------------------------------------------
// Against CScriptedServer: exact requests, and replies serve_store.py cannot give.

class HttpReplyTest : public HttpDownloadFixture
{
protected:
    HttpResult Fetch(CScriptedServer& server, const std::string& path = "/file.bin")
    {
        return m_client.Download(server.Url(path), Target(), m_diag.Sink());
    }
};

// HTTP/1.1 keeps the connection: no "Connection: close".
TEST_F(HttpReplyTest, RequestIsHttp11GetOfThePathWithHostAgentAndIdentity)
{
    CScriptedServer server({"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"});
    ASSERT_EQ(HttpResult::NotFound, Fetch(server, "/a.pdb/0123ABC1/a.pdb"));
    ASSERT_EQ(1u, server.Requests().size());
    const std::vector<std::string> lines = SplitLines(server.Requests()[0]);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("GET /a.pdb/0123ABC1/a.pdb HTTP/1.1\r\n", lines[0]);
    auto has = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
    EXPECT_TRUE(has("Host: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n")) << server.Requests()[0];
    EXPECT_FALSE(has("Connection: close\r\n")) << server.Requests()[0];
    EXPECT_TRUE(has("User-Agent: Quillmar-SymSrv/1.0\r\n")) << server.Requests()[0];
    EXPECT_TRUE(has("Accept-Encoding: identity\r\n")) << server.Requests()[0];
}

// What one request makes of each reply: the body it saved, or a failure that
// leaves no file. maxBytes 0 keeps the client's default limit. The first
// server is asked by host name, which the client resolves.
TEST_F(HttpReplyTest, SavesWellFramedBodiesAndRefusesHostileReplies)
{
    const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    const struct
    {
        const char* what;
        std::string reply;
        const char* body; // nullptr: failed
        unsigned long long maxBytes;
    } cases[] = {
        {"chunked body with an extension and a trailer",
         chunked + "5\r\nhello\r\n7;name=value\r\n, world\r\n0\r\nX-Trailer: yes\r\n\r\n", "hello, world", 0},
        {"bare line feeds", "HTTP/1.0 200 OK\nContent-Length: 7\n\nx\r\ny\nz!", "x\r\ny\nz!", 0},
        {"body to the close without a length", "HTTP/1.0 200 OK\r\n\r\nuntil the end", "until the end", 0},
        {"provisional reply first", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", "ok",
         0},
        {"empty body", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", "", 0},
        {"length equal to maxBytes", "HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\n12345678", "12345678", 8},
        {"garbage status line", "SSH-2.0-OpenSSH_9.2\r\n\r\n", nullptr, 0},
        {"closed before the head", "", nullptr, 0},
        {"closed before the end of the head", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n", nullptr, 0},
        {"giant header", "HTTP/1.1 200 OK\r\nX-Big: " + std::string(100000, 'a') + "\r\nContent-Length: 2\r\n\r\nok",
         nullptr, 0},
        {"bad chunk size", chunked + "zz\r\nhello\r\n0\r\n\r\n", nullptr, 0},
        {"overflowing chunk size", chunked + "10000000000000005\r\nhello\r\n0\r\n\r\n", nullptr, 0},
        {"chunk longer than its size", chunked + "3\r\nhello\r\n0\r\n\r\n", nullptr, 0},
        {"chunked body without its last chunk", chunked + "5\r\nhello\r\n", nullptr, 0},
        {"length beyond maxBytes", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n123456789", nullptr, 8},
        {"chunked body beyond maxBytes", chunked + "5\r\nhello\r\n5\r\nworld\r\n0\r\n\r\n", nullptr, 8},
        {"body to the close beyond maxBytes", "HTTP/1.0 200 OK\r\n\r\nmore than eight bytes", nullptr, 8},
        {"redirect to another protocol",
         "HTTP/1.1 302 Found\r\nLocation: ftp://127.0.0.1/file.bin\r\nContent-Length: 0\r\n\r\n", nullptr, 0},
        {"redirect without a location", "HTTP/1.1 301 Moved Permanently\r\nContent-Length: 0\r\n\r\n", nullptr, 0},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        HttpOptions options;
        if (c.maxBytes != 0)
            options.maxBytes = c.maxBytes;
        m_client.SetOptions(options);
        CScriptedServer server({c.reply});
        const std::string url = &c == &cases[0] ? "http://localhost:" + std::to_string(server.Port()) + "/file.bin"
                                                : server.Url("/file.bin");
        CDiagLines diag;
        EXPECT_EQ(c.body != nullptr ? HttpResult::Ok : HttpResult::Failed,
                  m_client.Download(url, Target(), diag.Sink()))
            << diag.All();
        EXPECT_EQ(1u, diag.CountStartingWith("SYMSRV:  HTTP GET ")) << diag.All();
        if (c.body != nullptr)
        {
            EXPECT_TRUE(FileExists(Target()));
            EXPECT_EQ(c.body, ReadFileBytes(Target()));
            ASSERT_TRUE(DeleteFileA(Target().c_str()));
        }
        EXPECT_TRUE(LeftNothing());
        // A file wrongly kept must not fail the cases after this one.
        DeleteFileA(Target().c_str());
    }
}

TEST_F(HttpReplyTest, ConnectThatIsNeverAcceptedTimesOut)
{
    // A listener whose accept queue is full: the loopback stack drops further
    // connection requests, so a connect neither succeeds nor fails.
    CWinsockForTest winsock;
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof(address);
    ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
    ASSERT_EQ(0, listen(listener, 1));
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    std::vector<SOCKET> fillers;
    for (int i = 0; i < 4; ++i)
    {
        SOCKET filler = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        u_long nonBlocking = 1;
        ioctlsocket(filler, FIONBIO, &nonBlocking);
        connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        fillers.push_back(filler);
    }
    HttpOptions options;
    options.timeoutMs = 500;
    m_client.SetOptions(options);
    const HttpResult result = HttpDownloadFixture::Fetch(LoopbackUrl(ntohs(address.sin_port), "/file.bin"));
    for (SOCKET filler : fillers)
        closesocket(filler);
    closesocket(listener);
    EXPECT_EQ(HttpResult::TimedOut, result) << m_diag.All();
    EXPECT_EQ(1u, m_diag.CountStartingWith("SYMSRV:  127.0.0.1:" + std::to_string(ntohs(address.sin_port)) +
                                           " did not answer within 500 ms"))
        << m_diag.All();
}

TEST_F(HttpReplyTest, ServerStallingInTheBodyTimesOut)
{
    HttpOptions options;
    options.timeoutMs = 500;
    m_client.SetOptions(options);
    CScriptedServer server({"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nten bytes.", "the rest"});
    EXPECT_EQ(HttpResult::TimedOut, Fetch(server));
    EXPECT_TRUE(m_diag.Has("SYMSRV:  127.0.0.1:" + std::to_string(server.Port()) +
                           " did not answer within 500 ms; skipped for 300 s\n"))
        << m_diag.All();
    EXPECT_TRUE(LeftNothing());
}

TEST_F(HttpReplyTest, StalledDownloadDoesNotHoldUpAnotherThread)
{
    // The first download waits until the server is released; the second must
    // finish meanwhile on its own connection.
    CScriptedServer stalled({"", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nfirst"});
    CScriptedServer quick({"HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nsecond"});
    HttpOptions options;
    options.timeoutMs = 20000;
    m_client.SetOptions(options);
    HttpResult first = HttpResult::Failed;
    CDiagLines firstDiag;
    CJoinedThread waiting(
        [&] { first = m_client.Download(stalled.Url("/file.bin"), m_dir.File("first.bin"), firstDiag.Sink()); });
    ASSERT_TRUE(stalled.WaitForRequest(10000));
    EXPECT_EQ(HttpResult::Ok, m_client.Download(quick.Url("/file.bin"), m_dir.File("second.bin"), m_diag.Sink()));
    EXPECT_FALSE(FileExists(m_dir.File("first.bin")));
    stalled.Release();
    waiting.Join();
    EXPECT_EQ(HttpResult::Ok, first) << firstDiag.All();
    EXPECT_EQ("first", ReadFileBytes(m_dir.File("first.bin")));
    EXPECT_EQ("second", ReadFileBytes(m_dir.File("second.bin")));
}

// ---------------------------------------------------------------------------
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

// ---------------------------------------------------------------------------
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
