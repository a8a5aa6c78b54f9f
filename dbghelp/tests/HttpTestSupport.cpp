#include "HttpTestSupport.h"

#include <cstdlib>

#include "TestSupport.h"

std::string TestDirectory()
{
    const char* dir = getenv("QX3_TESTDIR");
    return dir != nullptr ? dir : "";
}

std::string HttpDirectory()
{
    return TestDirectory() + "\\http";
}

std::string StoreFile(const std::string& name)
{
    return HttpDirectory() + "\\store\\" + name;
}

std::string LoopbackUrl(unsigned port, const std::string& path)
{
    return "http://127.0.0.1:" + std::to_string(port) + path;
}

std::string TlsUrl(unsigned port, const std::string& path)
{
    return "https://localhost:" + std::to_string(port) + path;
}

size_t CountLogLines(const std::string& server, const std::string& prefix)
{
    size_t count = 0;
    for (const std::string& line : SplitLines(ReadFileBytes(HttpDirectory() + "\\" + server + ".log")))
        count += line.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
    return count;
}

size_t CountRequests(const std::string& server, const std::string& path)
{
    return CountLogLines(server, "GET " + path + " ");
}

unsigned FreeLoopbackPort()
{
    CWinsockForTest winsock;
    SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof(address);
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size);
    closesocket(probe);
    return ntohs(address.sin_port);
}

::testing::AssertionResult HttpDownloadFixture::ServersStarted(const char* server)
{
    if (HttpServerPort(server) != 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no port of " << server
                                         << " in QX3_TESTDIR\\http-servers.ini: run this test through ctest, whose "
                                            "http and tls fixtures start the servers and trust their CA";
}

HttpDiag CDiagLines::Sink()
{
    return [this](const std::string& line)
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_lines.push_back(line);
    };
}

std::vector<std::string> CDiagLines::Lines()
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_lines;
}

size_t CDiagLines::CountWhere(const std::function<bool(const std::string&)>& test)
{
    size_t count = 0;
    for (const std::string& seen : Lines())
        count += test(seen) ? 1 : 0;
    return count;
}

size_t CDiagLines::Count(const std::string& line)
{
    return CountWhere([&](const std::string& seen) { return seen == line; });
}

size_t CDiagLines::CountStartingWith(const std::string& prefix)
{
    return CountWhere([&](const std::string& seen) { return seen.compare(0, prefix.size(), prefix) == 0; });
}

size_t CDiagLines::CountHolding(const std::string& fragment)
{
    return CountWhere([&](const std::string& seen) { return seen.find(fragment) != std::string::npos; });
}

std::string CDiagLines::All()
{
    std::string all;
    for (const std::string& line : Lines())
        all += line;
    return all;
}

SOCKET ListenOnLoopback(unsigned& port)
{
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof(address);
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    listen(listener, 16);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
    return listener;
}

SOCKET ConnectToLoopback(unsigned port)
{
    SOCKET connection = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(port));
    connect(connection, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    return connection;
}

CScriptedServer::CScriptedServer(std::vector<std::string> parts, int connections)
    : m_parts(std::move(parts)), m_connections(connections)
{
    m_requestRead = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    m_release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_listener = ListenOnLoopback(m_port);
    m_thread = std::thread([this] { Serve(); });
}

CScriptedServer::~CScriptedServer()
{
    m_stopping = true;
    SetEvent(m_release);
    SOCKET waker = ConnectToLoopback(m_port);
    m_thread.join();
    closesocket(waker);
    closesocket(m_listener);
    CloseHandle(m_requestRead);
    CloseHandle(m_release);
}

std::vector<std::string> CScriptedServer::Requests()
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_requests;
}

void CScriptedServer::Serve()
{
    for (int n = 0; n < m_connections && !m_stopping; ++n)
    {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(m_listener, &readable);
        timeval wait = {20, 0};
        if (select(0, &readable, nullptr, nullptr, &wait) != 1)
            return;
        SOCKET client = accept(m_listener, nullptr, nullptr);
        if (client == INVALID_SOCKET)
            return;
        if (!m_stopping)
            Answer(client);
        closesocket(client);
    }
}

void CScriptedServer::Answer(SOCKET client)
{
    const DWORD timeout = 20000;
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536)
    {
        const int got = recv(client, buffer, sizeof(buffer), 0);
        if (got <= 0)
            return;
        request.append(buffer, got);
    }
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_requests.push_back(request);
    }
    SetEvent(m_requestRead);
    for (size_t i = 0; i < m_parts.size(); ++i)
    {
        if (i > 0)
            WaitForSingleObject(m_release, 30000);
        const std::string& part = m_parts[i];
        size_t sent = 0;
        while (sent < part.size())
        {
            const int count = send(client, part.data() + sent, static_cast<int>(part.size() - sent), 0);
            if (count <= 0)
                return;
            sent += count;
        }
    }
    // Graceful close: the client reads to the end, then closes its side, or
    // keeps the connection until the test ends.
    shutdown(client, SD_SEND);
    const DWORD wait = 100;
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait), sizeof(wait));
    for (;;)
    {
        const int got = recv(client, buffer, sizeof(buffer), 0);
        if (got == 0 || (got < 0 && (WSAGetLastError() != WSAETIMEDOUT || m_stopping)))
            break;
    }
}
