#pragma once
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "ScopedHandle.h"

// A symbol store on loopback that holds the requests it receives: each one
// is read, reported (WaitArrived) and answered (404) only once the test
// releases the store, or after 30 s (the store is then released). For as
// long as it lives, symsrv.ini beside the symbol library raises the
// library's network waits above that, so that a held request stays in
// flight on the client's side too.
class CHeldStore
{
public:
    CHeldStore();
    ~CHeldStore();
    CHeldStore(const CHeldStore&) = delete;
    CHeldStore& operator=(const CHeldStore&) = delete;

    bool IsListening() const { return m_port != 0; }
    // "srv*CACHE*http://127.0.0.1:PORT/store".
    std::string SymbolPath(const std::string& cache) const;
    // True once a request has arrived (within timeoutMs).
    bool WaitArrived(DWORD timeoutMs);
    // A request has arrived and is not answered yet.
    bool IsHolding() const { return WaitForSingleObject(m_arrived.Get(), 0) == WAIT_OBJECT_0 && !m_answered; }
    void Release();

private:
    void Serve();

    // A SOCKET: winsock2.h is left to the source, which must include it first.
    UINT_PTR m_listener = ~static_cast<UINT_PTR>(0);
    unsigned m_port = 0;
    CScopedHandle m_arrived;
    CScopedHandle m_release;
    std::atomic<bool> m_answered{false};
    std::string m_settingsFile;
    bool m_hadSettingsFile;
    std::thread m_thread;
};
