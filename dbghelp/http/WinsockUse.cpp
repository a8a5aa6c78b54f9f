#include <winsock2.h>

#include "WinsockUse.h"

#include <mutex>

namespace
{
std::mutex g_winsockLock;
int g_winsockUsers = 0;
} // namespace

CWinsockUse::~CWinsockUse()
{
    if (!m_started)
        return;
    std::lock_guard<std::mutex> hold(g_winsockLock);
    if (--g_winsockUsers == 0)
        WSACleanup();
}

bool CWinsockUse::Start()
{
    if (m_started)
        return true;
    std::lock_guard<std::mutex> hold(g_winsockLock);
    if (g_winsockUsers == 0)
    {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
            return false;
    }
    ++g_winsockUsers;
    m_started = true;
    return true;
}
