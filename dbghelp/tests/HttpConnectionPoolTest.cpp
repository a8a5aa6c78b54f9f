#include <winsock2.h>

#include "HttpConnectionPool.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "HttpClient.h"
#include "HttpTestSupport.h"
#include "KeepAliveServer.h"
#include "TestSupport.h"

// Kept connections: reuse, delimiting of replies, servers that drop idle
// connections, the pool's bound, and probes pipelined on one connection.
// Against CKeepAliveServer, which counts the connections it accepted.
namespace
{

// Every socket the process holds, whoever opened it.
size_t OpenSockets()
{
    size_t count = 0;
    for (ULONG_PTR handle = 4; handle < 0x10000; handle += 4)
    {
        int type = 0;
        int size = sizeof(type);
        if (getsockopt(static_cast<SOCKET>(handle), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &size) == 0)
            ++count;
    }
    return count;
}

class HttpConnectionPoolTest : public HttpDownloadFixture
{
protected:
    HttpResult Fetch(CHttpClient& client, CKeepAliveServer& server, const std::string& path)
    {
        return client.Download(server.Url(path), Target(), m_diag.Sink());
    }
    HttpResult Fetch(CKeepAliveServer& server, const std::string& path) { return Fetch(m_client, server, path); }

    // Asks for name, nam_ and file.ptr below /key/ as a store's probes are asked.
    HttpResult Probe(CKeepAliveServer& server, const std::string& key, size_t& answered)
    {
        std::vector<CHttpClient::Probe> probes;
        for (const char* leaf : {"/a.pdb", "/a.pd_", "/file.ptr"})
        {
            CHttpClient::Probe probe;
            probe.url = server.Url("/" + key + leaf);
            probe.targetPath = m_dir.File(std::string(leaf + 1));
            probes.push_back(probe);
        }
        return m_client.DownloadFirst(probes, m_diag.Sink(), answered);
    }

    static std::string Found(const std::string&) { return CKeepAliveServer::Reply("200 OK", "symbols"); }
};

TEST_F(HttpConnectionPoolTest, DelimitedRepliesKeepTheConnectionOthersEndIt)
{
    const struct
    {
        const char* what;
        std::string reply;
        HttpResult result;
        bool kept;
    } cases[] = {
        {"Content-Length", CKeepAliveServer::Reply("200 OK", "first"), HttpResult::Ok, true},
        {"chunked", CKeepAliveServer::Chunked("first"), HttpResult::Ok, true},
        {"404 page", CKeepAliveServer::Reply("404 Not Found", "<html>no such file</html>"), HttpResult::NotFound,
         true},
        {"404 page too long to read", CKeepAliveServer::Reply("404 Not Found", std::string(100000, 'x')),
         HttpResult::NotFound, false},
        {"neither", "HTTP/1.1 200 OK\r\n\r\nfirst", HttpResult::Ok, false},
        {"Connection: close", "HTTP/1.1 200 OK\r\nConnection: keep-alive, close\r\nContent-Length: 5\r\n\r\nfirst",
         HttpResult::Ok, false},
        {"HTTP/1.0", "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nfirst", HttpResult::Ok, false},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        const std::string reply = c.reply;
        CKeepAliveServer server([&](const std::string& path)
                                { return path == "/first" ? reply : CKeepAliveServer::Reply("200 OK", "second"); });
        CHttpClient client;
        ASSERT_EQ(c.result, Fetch(client, server, "/first")) << m_diag.All();
        if (c.result == HttpResult::Ok)
        {
            EXPECT_EQ("first", ReadFileBytes(Target()));
        }
        ASSERT_EQ(HttpResult::Ok, Fetch(client, server, "/second")) << m_diag.All();
        EXPECT_EQ("second", ReadFileBytes(Target()));
        EXPECT_EQ(c.kept ? 1 : 2, server.Connections());
    }
}

// The request that finds its kept connection closed is asked again on a new
// one, once: a server that drops that one too fails the download.
TEST_F(HttpConnectionPoolTest, ServerClosingAnIdleConnectionCostsNoFailedLoad)
{
    CKeepAliveServer server(Found);
    server.DropAfter(1);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(HttpResult::Ok, Fetch(server, "/a")) << m_diag.All();
    EXPECT_EQ(3, server.Connections());
    server.CloseAll();
    ASSERT_EQ(HttpResult::Ok, Fetch(server, "/a")) << m_diag.All();
    EXPECT_EQ(4, server.Connections());
    EXPECT_EQ(4u, server.Paths().size());

    server.DropAfter(0);
    EXPECT_EQ(HttpResult::Failed, Fetch(server, "/a"));
    EXPECT_EQ(5, server.Connections());
}

TEST_F(HttpConnectionPoolTest, PoolKeepsAtMostItsBoundClosingTheOldestAndNoneBeyondItsTimeOut)
{
    CKeepAliveServer first(Found), second(Found), third(Found);
    CHttpClient client(2);
    for (CKeepAliveServer* server : {&first, &second, &third})
        ASSERT_EQ(HttpResult::Ok, Fetch(client, *server, "/a")) << m_diag.All();
    EXPECT_EQ(2u, client.KeptConnections());
    for (CKeepAliveServer* server : {&third, &first})
        ASSERT_EQ(HttpResult::Ok, Fetch(client, *server, "/a")) << m_diag.All();
    EXPECT_EQ(1, third.Connections());
    EXPECT_EQ(2, first.Connections());

    CHttpClient timedOut(2, 0);
    ASSERT_EQ(HttpResult::Ok, Fetch(timedOut, second, "/a")) << m_diag.All();
    ASSERT_EQ(HttpResult::Ok, Fetch(timedOut, second, "/a")) << m_diag.All();
    EXPECT_EQ(3, second.Connections());
}

// A miss asks all three forms together; a store found to hold plain files
// is asked for the plain file alone.
TEST_F(HttpConnectionPoolTest, ProbesOfAKeyGoOutTogetherOnOneConnection)
{
    CKeepAliveServer server(
        [](const std::string& path)
        {
            if (path == "/cab/a.pd_" || (path.find("/plain") == 0 && path.find("/a.pdb") != std::string::npos))
                return CKeepAliveServer::Reply("200 OK", "symbols");
            return CKeepAliveServer::Reply("404 Not Found", "no");
        });
    size_t answered = 0;
    for (int i = 0; i < 5; ++i)
    {
        ASSERT_EQ(HttpResult::NotFound, Probe(server, "miss" + std::to_string(i), answered)) << m_diag.All();
        EXPECT_EQ(3u, answered);
    }
    EXPECT_EQ(15u, server.Paths().size());
    ASSERT_EQ(HttpResult::Ok, Probe(server, "cab", answered)) << m_diag.All();
    EXPECT_EQ(1u, answered);
    EXPECT_EQ("symbols", ReadFileBytes(m_dir.File("a.pd_")));
    for (int i = 0; i < 3; ++i)
    {
        ASSERT_EQ(HttpResult::Ok, Probe(server, "plain" + std::to_string(i), answered)) << m_diag.All();
        EXPECT_EQ(0u, answered);
    }
    // The first plain hit came with its two companions; the next ones alone.
    EXPECT_EQ(18u + 3u + 2u, server.Paths().size());
    EXPECT_EQ(1, server.Connections());
}

// Replies that never come are bounded by the time-out, as without pipelining.
TEST_F(HttpConnectionPoolTest, PipelinedRequestsNeverAnsweredTimeOut)
{
    HttpOptions options = m_client.GetOptions();
    options.timeoutMs = 300;
    m_client.SetOptions(options);
    CKeepAliveServer server([](const std::string& path)
                            { return path == "/warm" ? CKeepAliveServer::Reply("200 OK", "warm") : std::string(); });
    ASSERT_EQ(HttpResult::Ok, Fetch(server, "/warm")) << m_diag.All();
    size_t answered = 0;
    EXPECT_EQ(HttpResult::TimedOut, Probe(server, "mute", answered));
    EXPECT_EQ(0u, answered);
    EXPECT_EQ(1, server.Connections());
}

TEST_F(HttpConnectionPoolTest, ThousandLoadsHoldNoMoreSocketsThanThePoolBound)
{
    CKeepAliveServer server([](const std::string& path)
                            {
                                return path.find("/a.pdb") != std::string::npos && path.find("/hit") == 0
                                           ? CKeepAliveServer::Reply("200 OK", "symbols")
                                           : CKeepAliveServer::Reply("404 Not Found", "");
                            });
    const size_t before = OpenSockets();
    size_t answered = 0;
    for (int i = 0; i < 1000; ++i)
        ASSERT_NE(HttpResult::Failed, Probe(server, (i % 2 ? "hit" : "miss") + std::to_string(i), answered))
            << m_diag.All();
    // The client's kept connection and the server's end of it.
    EXPECT_LE(OpenSockets(), before + 2 * CHttpConnectionPool::kMaxIdle);
    EXPECT_LE(m_client.KeptConnections(), CHttpConnectionPool::kMaxIdle);
}

} // namespace
