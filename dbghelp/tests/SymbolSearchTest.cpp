#include <winsock2.h>

#include "SymbolSearch.h"

#include <chrono>
#include <condition_variable>
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

TEST(SymbolSearchTest, ThreadsSearchingForOneFileAtOnceDownloadItOnce)
{
    const int kThreads = 6;
    // The store holds its answer back until every thread has asked, or, when
    // only one asks (as it should), for a second: time enough for
    // every other thread to reach the store if nothing held it back.
    std::mutex lock;
    std::condition_variable asked;
    int asking = 0;
    CKeepAliveServer server(
        [&](const std::string& path)
        {
            if (path != std::string("/") + kFile + "/" + kKey + "/" + kFile)
                return CKeepAliveServer::Reply("404 Not Found", "");
            std::unique_lock<std::mutex> hold(lock);
            ++asking;
            asked.notify_all();
            asked.wait_for(hold, std::chrono::seconds(1), [&] { return asking == kThreads; });
            return CKeepAliveServer::Reply("200 OK", "symbols");
        });
    CTempDir downstream;
    const CSymbolPath path("srv*" + downstream.Path() + "*" + server.Url("/"));
    CHttpClient http;
    HttpOptions options = http.GetOptions();
    options.timeoutMs = 10000;
    http.SetOptions(options);
    CSingleFlight flights;
    CDiagLines diag;
    CSymbolSearch::Settings settings;
    settings.path = &path;
    settings.http = &http;
    settings.flights = &flights;
    settings.diagnostic = diag.Sink();
    settings.maxFileBytes = 1 << 20;

    std::vector<std::string> found(kThreads);
    {
        std::vector<std::unique_ptr<CJoinedThread>> threads;
        for (int i = 0; i < kThreads; ++i)
        {
            threads.emplace_back(new CJoinedThread(
                [&, i]
                {
                    CSymbolSearch::Request request;
                    request.fileName = kFile;
                    request.storeKey = kKey;
                    request.verify = [](const std::string& file)
                    {
                        CSymbolSearch::Verdict verdict;
                        verdict.kind = ReadFileBytes(file) == "symbols" ? CSymbolSearch::Verdict::Match
                                                                        : CSymbolSearch::Verdict::Unreadable;
                        return verdict;
                    };
                    found[i] = CSymbolSearch(settings).Find(request).matched;
                }));
        }
    }
    const std::string placed = downstream.File(std::string(kFile) + "\\" + kKey + "\\" + kFile);
    for (const std::string& file : found)
        EXPECT_EQ(placed, file) << diag.All();
    EXPECT_EQ(1, asking);
    EXPECT_EQ("symbols", ReadFileBytes(placed));
}

} // namespace
