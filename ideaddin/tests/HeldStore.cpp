#include <winsock2.h>

#include "HeldStore.h"

#include "TestSupport.h"

namespace
{

constexpr DWORD kHoldLimitMs = 30000;

} // namespace

CHeldStore::CHeldStore()
    : m_arrived(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      m_release(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      m_settingsFile(ExeDirectory() + "symsrv.ini"),
      m_hadSettingsFile(FileExists(m_settingsFile))
{
    WritePrivateProfileStringA("Http", "Timeout", "300000", m_settingsFile.c_str());
    WritePrivateProfileStringA("Http", "LowSpeedSeconds", "300", m_settingsFile.c_str());
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return;
    m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof(address);
    if (m_listener == INVALID_SOCKET || bind(m_listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        listen(m_listener, 4) != 0 || getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return;
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Serve(); });
}

CHeldStore::~CHeldStore()
{
    Release();
    if (m_listener != INVALID_SOCKET)
        closesocket(m_listener);
    if (m_thread.joinable())
        m_thread.join();
    if (m_hadSettingsFile)
        WritePrivateProfileStringA("Http", nullptr, nullptr, m_settingsFile.c_str());
    else
        DeleteFileA(m_settingsFile.c_str());
    WSACleanup();
}

std::string CHeldStore::SymbolPath(const std::string& cache) const
{
    return "srv*" + cache + "*http://127.0.0.1:" + std::to_string(m_port) + "/store";
}

bool CHeldStore::WaitArrived(DWORD timeoutMs)
{
    return WaitForSingleObject(m_arrived.Get(), timeoutMs) == WAIT_OBJECT_0;
}

void CHeldStore::Release()
{
    SetEvent(m_release.Get());
}

void CHeldStore::Serve()
{
    for (;;)
    {
        const SOCKET connection = accept(m_listener, nullptr, nullptr);
        if (connection == INVALID_SOCKET)
            return;
        std::string request;
        char buffer[1024];
        int received = 0;
        while (request.find("\r\n\r\n") == std::string::npos &&
               (received = recv(connection, buffer, sizeof(buffer), 0)) > 0)
            request.append(buffer, static_cast<size_t>(received));
        SetEvent(m_arrived.Get());
        // Past the limit the store answers everything at once.
        if (WaitForSingleObject(m_release.Get(), kHoldLimitMs) == WAIT_TIMEOUT)
            Release();
        m_answered = true;
        const char reply[] = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        send(connection, reply, sizeof(reply) - 1, 0);
        closesocket(connection);
    }
}
