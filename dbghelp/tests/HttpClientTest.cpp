#include <winsock2.h>

#include "HttpClient.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "HttpTestSupport.h"
#include "TestSupport.h"

namespace
{

// ---------------------------------------------------------------------------
// Against the serve_store.py instances that CTest started.

class HttpClientTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_store = HttpServerPort("store");
        s_mirror = HttpServerPort("mirror");
        s_mute = HttpServerPort("mute");
    }

    void SetUp() override
    {
        ASSERT_TRUE(s_store != 0 && s_mirror != 0 && s_mute != 0)
            << "no server ports in QX3_TESTDIR\\http-servers.ini: run this test through ctest, whose http fixture "
               "starts them";
    }

    std::string Store(const std::string& path) const { return LoopbackUrl(s_store, path); }
    std::string Target() const { return m_dir.File("file.bin"); }

    HttpResult Fetch(const std::string& url, unsigned long long* bytes = nullptr)
    {
        return m_client.Download(url, Target(), m_diag.Sink(), bytes);
    }

    static unsigned s_store;
    static unsigned s_mirror;
    static unsigned s_mute;

    CTempDir m_dir;
    CHttpClient m_client;
    CDiagLines m_diag;
};

unsigned HttpClientTest::s_store = 0;
unsigned HttpClientTest::s_mirror = 0;
unsigned HttpClientTest::s_mute = 0;

TEST_F(HttpClientTest, DownloadsFileWithExactBytesAndReportsEachStep)
{
    unsigned long long bytes = 0;
    ASSERT_EQ(HttpResult::Ok, Fetch(Store("/small.bin"), &bytes)) << m_diag.All();
    const std::string expected = ReadFileBytes(StoreFile("small.bin"));
    ASSERT_EQ(77825u, expected.size());
    EXPECT_EQ(expected, ReadFileBytes(Target()));
    EXPECT_EQ(77825u, bytes);
    EXPECT_EQ((std::vector<std::string>{"SYMSRV:  HTTP GET " + Store("/small.bin") + "\n", "SYMSRV:  HTTP 200 OK\n",
                                        "SYMSRV:  Received 77825 bytes\n"}),
              m_diag.Lines());
}

TEST_F(HttpClientTest, MissingOrGoneFileIsNotFoundAndLeavesNoFile)
{
    EXPECT_EQ(HttpResult::NotFound, Fetch(Store("/no/such.pdb")));
    EXPECT_TRUE(m_diag.Has("SYMSRV:  HTTP 404 Not Found\n")) << m_diag.All();
    EXPECT_EQ(HttpResult::NotFound, Fetch(Store("/gone/small.bin")));
    EXPECT_TRUE(ListDirectory(m_dir.Path()).empty());
}

TEST_F(HttpClientTest, ServerErrorIsFailedLeavesNoFileAndKeepsServerOnline)
{
    EXPECT_EQ(HttpResult::Failed, Fetch(Store("/error/small.bin")));
    EXPECT_EQ(1u, m_diag.CountStartingWith("SYMSRV:  HTTP 500 ")) << m_diag.All();
    EXPECT_TRUE(ListDirectory(m_dir.Path()).empty());
    EXPECT_EQ(HttpResult::Ok, Fetch(Store("/small.bin")));
}

TEST_F(HttpClientTest, FollowsRedirectOnSameServer)
{
    ASSERT_EQ(HttpResult::Ok, Fetch(Store("/moved/small.bin"))) << m_diag.All();
    EXPECT_EQ(ReadFileBytes(StoreFile("small.bin")), ReadFileBytes(Target()));
    EXPECT_TRUE(m_diag.Has("SYMSRV:  HTTP GET " + Store("/small.bin") + "\n")) << m_diag.All();
}

TEST_F(HttpClientTest, FollowsRedirectToAnotherServer)
{
    ASSERT_EQ(HttpResult::Ok, Fetch(Store("/elsewhere/small.bin"))) << m_diag.All();
    EXPECT_EQ(ReadFileBytes(StoreFile("small.bin")), ReadFileBytes(Target()));
    EXPECT_TRUE(m_diag.Has("SYMSRV:  HTTP GET " + LoopbackUrl(s_mirror, "/small.bin") + "\n")) << m_diag.All();
}

TEST_F(HttpClientTest, RedirectLoopStopsAfterMaxRedirects)
{
    HttpOptions options;
    options.maxRedirects = 3;
    m_client.SetOptions(options);
    EXPECT_EQ(HttpResult::Failed, Fetch(Store("/loop/small.bin")));
    EXPECT_EQ(4u, m_diag.CountStartingWith("SYMSRV:  HTTP GET ")) << m_diag.All();
    EXPECT_TRUE(ListDirectory(m_dir.Path()).empty());
}

// The mute server is shared with the symbol library's tests, which may run at
// the same time: requests are told apart by a path of this test's own.
TEST_F(HttpClientTest, MuteServerTimesOutAndIsThenSkippedWithoutRequest)
{
    HttpOptions options;
    options.timeoutMs = 1000;
    m_client.SetOptions(options);
    const std::string mute = LoopbackUrl(s_mute, "/http-client-test/mute.bin");
    EXPECT_EQ(HttpResult::TimedOut, m_client.Download(mute, Target(), m_diag.Sink()));
    EXPECT_TRUE(m_diag.Has("SYMSRV:  127.0.0.1:" + std::to_string(s_mute) +
                           " did not answer within 1000 ms; skipped for 300 s\n"))
        << m_diag.All();
    EXPECT_TRUE(ListDirectory(m_dir.Path()).empty());
    ASSERT_EQ(1u, CountRequests("mute", "/http-client-test/mute.bin"));

    EXPECT_EQ(HttpResult::Offline, m_client.Download(mute, Target(), m_diag.Sink()));
    EXPECT_EQ(1u, CountRequests("mute", "/http-client-test/mute.bin"));
    EXPECT_TRUE(m_diag.Has("SYMSRV:  127.0.0.1:" + std::to_string(s_mute) + " is offline; skipped\n")) << m_diag.All();
    // The mark covers that server only.
    EXPECT_EQ(HttpResult::Ok, Fetch(Store("/small.bin")));
}

TEST_F(HttpClientTest, RefusedConnectionIsUnreachableAndThenOffline)
{
    const unsigned port = FreeLoopbackPort();
    EXPECT_EQ(HttpResult::Unreachable, Fetch(LoopbackUrl(port, "/small.bin")));
    EXPECT_EQ(1u, m_diag.CountStartingWith("SYMSRV:  127.0.0.1:" + std::to_string(port) + " could not be reached"))
        << m_diag.All();
    EXPECT_EQ(HttpResult::Offline, Fetch(LoopbackUrl(port, "/small.bin")));
}

TEST_F(HttpClientTest, ResetOfflineLetsTheServerBeTriedAgain)
{
    const unsigned port = FreeLoopbackPort();
    ASSERT_EQ(HttpResult::Unreachable, Fetch(LoopbackUrl(port, "/small.bin")));
    m_client.ResetOffline();
    EXPECT_EQ(HttpResult::Unreachable, Fetch(LoopbackUrl(port, "/small.bin")));
}

TEST_F(HttpClientTest, CutBodyIsFailedAndLeavesNoFile)
{
    unsigned long long bytes = 0;
    EXPECT_EQ(HttpResult::Failed, Fetch(Store("/cut/small.bin"), &bytes));
    EXPECT_EQ(1000u, bytes);
    EXPECT_TRUE(ListDirectory(m_dir.Path()).empty());
}

TEST_F(HttpClientTest, FailedDownloadLeavesExistingTargetAsItWas)
{
    ASSERT_TRUE(WriteFileBytes(Target(), "previous"));
    EXPECT_EQ(HttpResult::Failed, Fetch(Store("/cut/small.bin")));
    EXPECT_EQ("previous", ReadFileBytes(Target()));
    EXPECT_EQ(std::vector<std::string>{"file.bin"}, ListDirectory(m_dir.Path()));
}

TEST_F(HttpClientTest, ReplacesExistingTarget)
{
    ASSERT_TRUE(WriteFileBytes(Target(), "previous"));
    ASSERT_EQ(HttpResult::Ok, Fetch(Store("/small.bin"))) << m_diag.All();
    EXPECT_EQ(ReadFileBytes(StoreFile("small.bin")), ReadFileBytes(Target()));
    EXPECT_EQ(std::vector<std::string>{"file.bin"}, ListDirectory(m_dir.Path()));
}

TEST_F(HttpClientTest, BodyLargerThanMaxBytesIsFailedAndLeavesNoFile)
{
    HttpOptions options;
    options.maxBytes = 77824;
    m_client.SetOptions(options);
    EXPECT_EQ(HttpResult::Failed, Fetch(Store("/small.bin")));
    EXPECT_TRUE(ListDirectory(m_dir.Path()).empty());
}

TEST_F(HttpClientTest, TargetInMissingDirectoryIsFailed)
{
    EXPECT_EQ(HttpResult::Failed, m_client.Download(Store("/small.bin"), m_dir.File("none\\file.bin"), m_diag.Sink()));
    EXPECT_TRUE(ListDirectory(m_dir.Path()).empty());
}

TEST_F(HttpClientTest, OtherSchemesAreFailedWithoutConnecting)
{
    EXPECT_EQ(HttpResult::Failed, Fetch("ftp://127.0.0.1/small.bin"));
    EXPECT_EQ(HttpResult::Failed, Fetch("file://C:/small.bin"));
    EXPECT_EQ(0u, m_diag.CountStartingWith("SYMSRV:  HTTP GET")) << m_diag.All();
}

TEST_F(HttpClientTest, TwoThreadsDownloadAtOnce)
{
    HttpResult first = HttpResult::Failed;
    HttpResult second = HttpResult::Failed;
    CDiagLines otherDiag;
    CJoinedThread other([&]
                        { second = m_client.Download(Store("/big.bin"), m_dir.File("second.bin"), otherDiag.Sink()); });
    first = m_client.Download(Store("/big.bin"), m_dir.File("first.bin"), m_diag.Sink());
    other.Join();
    ASSERT_EQ(HttpResult::Ok, first) << m_diag.All();
    ASSERT_EQ(HttpResult::Ok, second) << otherDiag.All();
    const std::string expected = ReadFileBytes(StoreFile("big.bin"));
    EXPECT_TRUE(expected == ReadFileBytes(m_dir.File("first.bin")));
    EXPECT_TRUE(expected == ReadFileBytes(m_dir.File("second.bin")));
}

TEST_F(HttpClientTest, TwoThreadsDownloadingOneTargetLeaveOneWholeFile)
{
    HttpResult first = HttpResult::Failed;
    HttpResult second = HttpResult::Failed;
    CDiagLines otherDiag;
    CJoinedThread other([&] { second = m_client.Download(Store("/big.bin"), Target(), otherDiag.Sink()); });
    first = Fetch(Store("/big.bin"));
    other.Join();
    EXPECT_EQ(HttpResult::Ok, first) << m_diag.All();
    EXPECT_EQ(HttpResult::Ok, second) << otherDiag.All();
    EXPECT_TRUE(ReadFileBytes(StoreFile("big.bin")) == ReadFileBytes(Target()));
    EXPECT_EQ(std::vector<std::string>{"file.bin"}, ListDirectory(m_dir.Path()));
}

// ---------------------------------------------------------------------------
// Against CScriptedServer: exact requests, and replies serve_store.py cannot give.

class HttpReplyTest : public ::testing::Test
{
protected:
    std::string Target() const { return m_dir.File("file.bin"); }

    HttpResult Fetch(CScriptedServer& server, const std::string& path = "/file.bin")
    {
        return m_client.Download(server.Url(path), Target(), m_diag.Sink());
    }

    // What a download makes of one scripted reply.
    HttpResult FetchReply(const std::string& reply)
    {
        CScriptedServer server({reply});
        return Fetch(server);
    }

    CTempDir m_dir;
    CHttpClient m_client;
    CDiagLines m_diag;
};

TEST_F(HttpReplyTest, RequestIsHttp11GetOfThePathWithHostAgentIdentityAndClose)
{
    CScriptedServer server({"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"});
    ASSERT_EQ(HttpResult::NotFound, Fetch(server, "/a.pdb/0123ABC1/a.pdb"));
    ASSERT_EQ(1u, server.Requests().size());
    const std::vector<std::string> lines = SplitLines(server.Requests()[0]);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("GET /a.pdb/0123ABC1/a.pdb HTTP/1.1\r\n", lines[0]);
    auto has = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
    EXPECT_TRUE(has("Host: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n")) << server.Requests()[0];
    EXPECT_TRUE(has("Connection: close\r\n")) << server.Requests()[0];
    EXPECT_TRUE(has("User-Agent: Quillmar-SymSrv/1.0\r\n")) << server.Requests()[0];
    EXPECT_TRUE(has("Accept-Encoding: identity\r\n")) << server.Requests()[0];
}

TEST_F(HttpReplyTest, ResolvesHostNames)
{
    CScriptedServer server({"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"});
    EXPECT_EQ(HttpResult::Ok, m_client.Download("http://localhost:" + std::to_string(server.Port()) + "/file.bin",
                                                Target(), m_diag.Sink()))
        << m_diag.All();
    EXPECT_EQ("ok", ReadFileBytes(Target()));
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
    const HttpResult result =
        m_client.Download(LoopbackUrl(ntohs(address.sin_port), "/file.bin"), Target(), m_diag.Sink());
    for (SOCKET filler : fillers)
        closesocket(filler);
    closesocket(listener);
    EXPECT_EQ(HttpResult::TimedOut, result) << m_diag.All();
    EXPECT_EQ(1u, m_diag.CountStartingWith("SYMSRV:  127.0.0.1:" + std::to_string(ntohs(address.sin_port)) +
                                           " did not answer within 500 ms"))
        << m_diag.All();
}

TEST_F(HttpReplyTest, DecodesChunkedBody)
{
    EXPECT_EQ(HttpResult::Ok, FetchReply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                         "5\r\nhello\r\n"
                                         "7;name=value\r\n, world\r\n"
                                         "0\r\nX-Trailer: yes\r\n\r\n"))
        << m_diag.All();
    EXPECT_EQ("hello, world", ReadFileBytes(Target()));
}

TEST_F(HttpReplyTest, AcceptsBareLineFeeds)
{
    EXPECT_EQ(HttpResult::Ok, FetchReply("HTTP/1.0 200 OK\nContent-Length: 7\n\nx\r\ny\nz!")) << m_diag.All();
    EXPECT_EQ("x\r\ny\nz!", ReadFileBytes(Target()));
}

TEST_F(HttpReplyTest, ReadsBodyToCloseWithoutLength)
{
    EXPECT_EQ(HttpResult::Ok, FetchReply("HTTP/1.0 200 OK\r\n\r\nuntil the end")) << m_diag.All();
    EXPECT_EQ("until the end", ReadFileBytes(Target()));
}

TEST_F(HttpReplyTest, SkipsProvisionalReply)
{
    EXPECT_EQ(HttpResult::Ok, FetchReply("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"))
        << m_diag.All();
    EXPECT_EQ("ok", ReadFileBytes(Target()));
}

TEST_F(HttpReplyTest, EmptyBodyGivesEmptyFile)
{
    EXPECT_EQ(HttpResult::Ok, FetchReply("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n")) << m_diag.All();
    EXPECT_TRUE(FileExists(Target()));
    EXPECT_EQ("", ReadFileBytes(Target()));
}

TEST_F(HttpReplyTest, RejectsGarbageStatusLine)
{
    EXPECT_EQ(HttpResult::Failed, FetchReply("SSH-2.0-OpenSSH_9.2\r\n\r\n"));
    EXPECT_TRUE(ListDirectory(m_dir.Path()).empty());
}

TEST_F(HttpReplyTest, ConnectionClosedBeforeEndOfHeadersIsFailed)
{
    EXPECT_EQ(HttpResult::Failed, FetchReply(""));
    EXPECT_EQ(HttpResult::Failed, FetchReply("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n"));
    EXPECT_TRUE(ListDirectory(m_dir.Path()).empty());
}

TEST_F(HttpReplyTest, RejectsGiantHeader)
{
    EXPECT_EQ(HttpResult::Failed,
              FetchReply("HTTP/1.1 200 OK\r\nX-Big: " + std::string(100000, 'a') + "\r\nContent-Length: 2\r\n\r\nok"));
    EXPECT_TRUE(ListDirectory(m_dir.Path()).empty());
}

TEST_F(HttpReplyTest, RejectsBadOrOverflowingChunkSize)
{
    EXPECT_EQ(HttpResult::Failed,
              FetchReply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nhello\r\n0\r\n\r\n"));
    EXPECT_EQ(
        HttpResult::Failed,
        FetchReply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10000000000000005\r\nhello\r\n0\r\n\r\n"));
    EXPECT_TRUE(ListDirectory(m_dir.Path()).empty());
}

TEST_F(HttpReplyTest, RejectsChunkLongerThanItsSize)
{
    EXPECT_EQ(HttpResult::Failed,
              FetchReply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nhello\r\n0\r\n\r\n"));
    EXPECT_TRUE(ListDirectory(m_dir.Path()).empty());
}

TEST_F(HttpReplyTest, RejectsChunkedBodyWithoutLastChunk)
{
    EXPECT_EQ(HttpResult::Failed, FetchReply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n"));
    EXPECT_TRUE(ListDirectory(m_dir.Path()).empty());
}

TEST_F(HttpReplyTest, RejectsChunkedBodyBeyondMaxBytes)
{
    HttpOptions options;
    options.maxBytes = 8;
    m_client.SetOptions(options);
    EXPECT_EQ(HttpResult::Failed,
              FetchReply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n5\r\nworld\r\n0\r\n\r\n"));
    EXPECT_TRUE(ListDirectory(m_dir.Path()).empty());
}

TEST_F(HttpReplyTest, RejectsBodyToCloseBeyondMaxBytes)
{
    HttpOptions options;
    options.maxBytes = 8;
    m_client.SetOptions(options);
    EXPECT_EQ(HttpResult::Failed, FetchReply("HTTP/1.0 200 OK\r\n\r\nmore than eight bytes"));
    EXPECT_TRUE(ListDirectory(m_dir.Path()).empty());
}

TEST_F(HttpReplyTest, RedirectToAnotherProtocolIsNotFollowed)
{
    EXPECT_EQ(HttpResult::Failed,
              FetchReply("HTTP/1.1 302 Found\r\nLocation: ftp://127.0.0.1/file.bin\r\nContent-Length: 0\r\n\r\n"));
    EXPECT_EQ(1u, m_diag.CountStartingWith("SYMSRV:  HTTP GET ")) << m_diag.All();
}

TEST_F(HttpReplyTest, RedirectWithoutLocationIsFailed)
{
    EXPECT_EQ(HttpResult::Failed, FetchReply("HTTP/1.1 301 Moved Permanently\r\nContent-Length: 0\r\n\r\n"));
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
    EXPECT_TRUE(ListDirectory(m_dir.Path()).empty());
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

} // namespace
