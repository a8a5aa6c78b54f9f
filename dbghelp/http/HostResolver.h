#pragma once
#include <windows.h>

#include <functional>
#include <string>

// Looks a host name up with a bounded wait. The platform's lookup has no
// time-out of its own (it waits as long as the system's resolver does), so
// it runs on a thread of its own. When the wait runs out the caller goes on;
// the thread finishes the lookup by itself and keeps the module that holds
// this code loaded until it has.
class CHostResolver
{
public:
    // One lookup: the IPv4 address of host (in network byte order, as
    // in_addr's s_addr), or a Winsock error (0 when found).
    using Lookup = std::function<int(const std::string& host, unsigned long& address)>;
    enum class Outcome
    {
        Found,
        Failed,
        TimedOut,
        Busy
    };

    // Lookups still running after their callers stopped waiting: past this
    // many, further lookups are refused (Busy) until some have finished.
    static constexpr long kMaxPending = 8;

    // lookup: the platform's name lookup (getaddrinfo) when null.
    explicit CHostResolver(Lookup lookup = nullptr);

    // A dotted quad is taken as it is; anything else is looked up, waiting
    // at most timeoutMs. error receives the lookup's Winsock error on Failed.
    Outcome Resolve(const std::string& host, DWORD timeoutMs, unsigned long& address, int& error);

    // The platform's lookup, as used when none is given.
    static int SystemLookup(const std::string& host, unsigned long& address);

private:
    Lookup m_lookup;
};
