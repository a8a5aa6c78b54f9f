#pragma once
#include <winsock2.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "HttpClient.h"
#include "HttpDownload.h"
#include "TestSupport.h"

// What the HTTP client's tests share: the loopback servers that CTest's http
// fixture started (tests/http-servers.sh), a scripted in-process server, and
// collectors of diagnostic lines.

// The directory the harness gives tests (QX3_TESTDIR), where http-servers.sh
// put its stores, certificates, logs and port list.
std::string TestDirectory();
std::string HttpDirectory();
// A file of the small store that most of the servers serve.
std::string StoreFile(const std::string& name);
std::string LoopbackUrl(unsigned port, const std::string& path);
// The HTTPS servers' certificates name "localhost".
std::string TlsUrl(unsigned port, const std::string& path);
// How many requests for path the named server logged ("GET PATH RESULT" lines).
size_t CountRequests(const std::string& server, const std::string& path);
// The lines the named server or proxy logged that start with prefix.
size_t CountLogLines(const std::string& server, const std::string& prefix);
// A loopback port with nothing listening: bound once, then released.
unsigned FreeLoopbackPort();
// A socket listening on 127.0.0.1 at a port of its own (put in port).
SOCKET ListenOnLoopback(unsigned& port);
// A connection to 127.0.0.1:port (close it when done): wakes the accept of
// a server that is stopping, which closing its listener does not under Wine.
SOCKET ConnectToLoopback(unsigned port);

// Collects the diagnostic lines of downloads, from any thread.
class CDiagLines
{
public:
    HttpDiag Sink();
    std::vector<std::string> Lines();
    bool Has(const std::string& line) { return Count(line) > 0; }
    size_t Count(const std::string& line);
    size_t CountStartingWith(const std::string& prefix);
    // Lines that hold fragment anywhere.
    size_t CountHolding(const std::string& fragment);
    std::string All();

private:
    size_t CountWhere(const std::function<bool(const std::string&)>& test);

    std::mutex m_lock;
    std::vector<std::string> m_lines;
};

// A test of one client's downloads into a work directory of its own, whose
// file.bin is the usual target, with the client's diagnostic lines.
class HttpDownloadFixture : public ::testing::Test
{
protected:
    std::string Target() const { return m_dir.File("file.bin"); }
    HttpResult Fetch(const std::string& url, unsigned long long* bytes = nullptr)
    {
        return m_client.Download(url, Target(), m_diag.Sink(), bytes);
    }
    // No file was left behind, partial or temporary.
    bool LeftNothing() const { return ListFiles(m_dir.Path()).empty(); }
    // Fails with a hint when the loopback servers of the http fixture are not running.
    static ::testing::AssertionResult ServersStarted(const char* server = "store");

    CTempDir m_dir;
    CHttpClient m_client;
    CDiagLines m_diag;
};

// Joins a thread however the test leaves its scope.
class CJoinedThread
{
public:
    template <typename Function>
    explicit CJoinedThread(Function function) : m_thread(function)
    {
    }
    ~CJoinedThread() { Join(); }
    void Join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    std::thread m_thread;
};

class CWinsockForTest
{
public:
    CWinsockForTest()
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~CWinsockForTest() { WSACleanup(); }
};

// A one-connection-at-a-time HTTP server on 127.0.0.1 that answers with
// scripted bytes, for replies serve_store.py cannot give (chunked, hostile).
// It reads each request whole, then sends the reply parts in turn, waiting
// for Release() before every part after the first; then it closes gracefully.
class CScriptedServer
{
public:
    explicit CScriptedServer(std::vector<std::string> parts, int connections = 1);
    ~CScriptedServer();
    CScriptedServer(const CScriptedServer&) = delete;
    CScriptedServer& operator=(const CScriptedServer&) = delete;

    unsigned Port() const { return m_port; }
    std::string Url(const std::string& path) const { return LoopbackUrl(m_port, path); }

    // Waits until a request has been read whole.
    bool WaitForRequest(DWORD ms) { return WaitForSingleObject(m_requestRead, ms) == WAIT_OBJECT_0; }
    void Release() { SetEvent(m_release); }

    std::vector<std::string> Requests();

private:
    void Serve();
    void Answer(SOCKET client);

    CWinsockForTest m_winsock;
    std::vector<std::string> m_parts;
    int m_connections;
    SOCKET m_listener = INVALID_SOCKET;
    unsigned m_port = 0;
    HANDLE m_requestRead = nullptr;
    HANDLE m_release = nullptr;
    std::atomic<bool> m_stopping{false};
    std::mutex m_lock;
    std::vector<std::string> m_requests;
    std::thread m_thread;
};
