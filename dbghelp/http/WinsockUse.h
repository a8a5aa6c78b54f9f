#pragma once

// One holder's share of Winsock, started by the first holder in the process
// and cleaned up by the last. Holding it only while a download runs means no
// Winsock call is ever left for DLL unload time, where WSACleanup must not be
// called.
class CWinsockUse
{
public:
    CWinsockUse() = default;
    ~CWinsockUse();
    CWinsockUse(const CWinsockUse&) = delete;
    CWinsockUse& operator=(const CWinsockUse&) = delete;

    // Takes a share (once per holder); false when Winsock could not start.
    bool Start();

private:
    bool m_started = false;
};
