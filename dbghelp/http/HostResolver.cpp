#include <winsock2.h>
#include <ws2tcpip.h>

#include "HostResolver.h"

#include <cstring>
#include <memory>
#include <new>

#include "ScopedHandle.h"
#include "WinsockUse.h"

namespace
{

volatile LONG g_pending = 0;

// What the caller and the lookup thread share; whichever lets go last frees it.
struct LookupState
{
    std::string host;
    CHostResolver::Lookup lookup;
    unsigned long address = 0;
    int error = 0;
    CScopedHandle done{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
};

struct ThreadStart
{
    std::shared_ptr<LookupState> state;
    HMODULE module;
};

DWORD WINAPI LookupThread(void* parameter)
{
    HMODULE module = nullptr;
    {
        std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
        module = start->module;
        LookupState& state = *start->state;
        try
        {
            CWinsockUse winsock;
            state.error = winsock.Start() ? state.lookup(state.host, state.address) : WSANOTINITIALISED;
        }
        catch (...)
        {
            state.error = WSA_NOT_ENOUGH_MEMORY;
        }
        SetEvent(state.done.Get());
    }
    InterlockedDecrement(&g_pending);
    // Drops the reference taken for this thread, so that the module is
    // unloaded only once no code of it runs here any more.
    FreeLibraryAndExitThread(module, 0);
    return 0;
}

} // namespace

CHostResolver::CHostResolver(Lookup lookup) : m_lookup(lookup ? std::move(lookup) : SystemLookup)
{
}

int CHostResolver::SystemLookup(const std::string& host, unsigned long& address)
{
    addrinfo hints;
    memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int error = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (error == 0 && found != nullptr && found->ai_addr != nullptr && found->ai_addrlen >= sizeof(sockaddr_in))
        address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    else if (error == 0)
        error = WSANO_DATA;
    if (found != nullptr)
        freeaddrinfo(found);
    return error;
}

CHostResolver::Outcome CHostResolver::Resolve(const std::string& host, DWORD timeoutMs, unsigned long& address,
                                              int& error)
{
    error = 0;
    // A dotted quad needs no resolver (and no resolver wait).
    const unsigned long literal = inet_addr(host.c_str());
    if (literal != INADDR_NONE)
    {
        address = literal;
        return Outcome::Found;
    }

    if (InterlockedIncrement(&g_pending) > kMaxPending)
    {
        InterlockedDecrement(&g_pending);
        return Outcome::Busy;
    }
    std::shared_ptr<LookupState> state;
    try
    {
        state = std::make_shared<LookupState>();
        state->host = host;
        state->lookup = m_lookup;
    }
    catch (...)
    {
        InterlockedDecrement(&g_pending);
        error = WSA_NOT_ENOUGH_MEMORY;
        return Outcome::Failed;
    }
    HMODULE module = nullptr;
    if (!state->done.IsValid() ||
        !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&LookupThread), &module))
    {
        InterlockedDecrement(&g_pending);
        error = static_cast<int>(GetLastError());
        return Outcome::Failed;
    }
    ThreadStart* start = new (std::nothrow) ThreadStart{state, module};
    CScopedHandle thread(start != nullptr ? CreateThread(nullptr, 0, LookupThread, start, 0, nullptr) : nullptr);
    if (!thread.IsValid())
    {
        error = static_cast<int>(GetLastError());
        delete start;
        FreeLibrary(module);
        InterlockedDecrement(&g_pending);
        return Outcome::Failed;
    }
    if (WaitForSingleObject(state->done.Get(), timeoutMs) != WAIT_OBJECT_0)
        return Outcome::TimedOut;
    if (state->error != 0)
    {
        error = state->error;
        return Outcome::Failed;
    }
    address = state->address;
    return Outcome::Found;
}
