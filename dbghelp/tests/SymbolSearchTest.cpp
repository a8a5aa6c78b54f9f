#include <winsock2.h>

#include "SymbolSearch.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "HttpClient.h"
#include "HttpTestSupport.h"
#include "KeepAliveServer.h"
#include "SingleFlight.h"
#include "SymbolPath.h"
#include "TestSupport.h"

// Searches from several threads at once, as a prefetch runs them: one
// download per file, every thread with the file.
namespace
{

const char kFile[] = "app.pdb";
const char kKey[] = "0123456789ABCDEF0123456789ABCDEF1";

class SymbolSearchThreadsTest : public ::testing::Test
{
protected:
    // The store's answer for the file; before giving it, hold runs.
    void Serve(std::function<void()> hold)
    {
        m_server.reset(new CKeepAliveServer(
            [this, hold](const std::string& path)
            {
                if (path != std::string("/") + kFile + "/" + kKey + "/" + kFile)
                    return CKeepAliveServer::Reply("404 Not Found", "");
                ++m_asked;
                hold();
                return CKeepAliveServer::Reply("200 OK", "symbols");
            }));
        m_path.reset(new CSymbolPath("srv*" + m_downstream.Path() + "*" + m_server->Url("/")));
        HttpOptions options = m_http.GetOptions();
        options.timeoutMs = 10000;
        m_http.SetOptions(options);
    }
    CSymbolSearch::Settings Settings(const CSymbolSearch::Diagnostic& diagnostic)
    {
        CSymbolSearch::Settings settings;
        settings.path = m_path.get();
        settings.http = &m_http;
        settings.flights = &m_flights;
        settings.diagnostic = diagnostic;
        settings.maxFileBytes = 1 << 20;
        return settings;
    }
    static CSymbolSearch::Request Request()
    {
        CSymbolSearch::Request request;
        request.fileName = kFile;
        request.storeKey = kKey;
        request.verify = [](const std::string& file)
        {
            CSymbolSearch::Verdict verdict;
            verdict.kind =
                ReadFileBytes(file) == "symbols" ? CSymbolSearch::Verdict::Match : CSymbolSearch::Verdict::Unreadable;
            return verdict;
        };
        return request;
    }
    std::string Placed() const { return m_downstream.File(std::string(kFile) + "\\" + kKey + "\\" + kFile); }

    CTempDir m_downstream;
    CHttpClient m_http;
    CSingleFlight m_flights;
    CDiagLines m_diag;
    std::atomic<int> m_asked{0};
    std::unique_ptr<CSymbolPath> m_path;
    // Last: its threads answer through the members above.
    std::unique_ptr<CKeepAliveServer> m_server;
};

TEST_F(SymbolSearchThreadsTest, ThreadsSearchingForOneFileAtOnceDownloadItOnce)
{
    const int kThreads = 6;
    // The store holds its answer back until every thread has asked, or, when
    // only one asks (as it should), for a second: time enough for
    // every other thread to reach the store if nothing held it back.
    std::mutex lock;
    std::condition_variable asked;
    int asking = 0;
    Serve(
        [&]
        {
            std::unique_lock<std::mutex> hold(lock);
            ++asking;
            asked.notify_all();
            asked.wait_for(hold, std::chrono::seconds(1), [&] { return asking == kThreads; });
        });
    std::vector<std::string> found(kThreads);
    {
        std::vector<std::unique_ptr<CJoinedThread>> threads;
        for (int i = 0; i < kThreads; ++i)
            threads.emplace_back(
                new CJoinedThread([&, i] { found[i] = CSymbolSearch(Settings(m_diag.Sink())).Find(Request()).matched; }));
    }
    for (const std::string& file : found)
        EXPECT_EQ(Placed(), file) << m_diag.All();
    EXPECT_EQ(1, m_asked.load());
    EXPECT_EQ("symbols", ReadFileBytes(Placed()));
}

// A search that found nothing downstream and asks the store only after
// another thread's download of the file has landed and ended takes that file.
TEST_F(SymbolSearchThreadsTest, SearchArrivingAfterAnotherThreadsDownloadTakesItsFile)
{
    Serve([] {});
    std::mutex lock;
    std::condition_variable changed;
    bool late = false;
    bool firstDone = false;
    std::string second;
    CJoinedThread waiting(
        [&]
        {
            // Held at its look downstream until the first search is done.
            const auto gate = [&](const std::string& line)
            {
                if (line.find(Placed() + " - file not found") == std::string::npos)
                    return;
                std::unique_lock<std::mutex> hold(lock);
                late = true;
                changed.notify_all();
                changed.wait_for(hold, std::chrono::seconds(20), [&] { return firstDone; });
            };
            second = CSymbolSearch(Settings(gate)).Find(Request()).matched;
        });
    {
        std::unique_lock<std::mutex> hold(lock);
        ASSERT_TRUE(changed.wait_for(hold, std::chrono::seconds(20), [&] { return late; }));
    }
    EXPECT_EQ(Placed(), CSymbolSearch(Settings(m_diag.Sink())).Find(Request()).matched) << m_diag.All();
    {
        std::lock_guard<std::mutex> hold(lock);
        firstDone = true;
        changed.notify_all();
    }
    waiting.Join();
    EXPECT_EQ(Placed(), second);
    EXPECT_EQ(1, m_asked.load());
}

} // namespace
