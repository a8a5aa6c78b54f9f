#pragma once
#include <windows.h>

#include <string>

#include "HostResolver.h"
#include "ProxyConfig.h"

// How downloads behave: the bounds on every wait, how long a failed server
// is skipped, the proxy, and the limits on what a server may send.
struct HttpOptions
{
    // Bound on the name lookup, the connect and each send and receive wait.
    DWORD timeoutMs = 2000;
    // How long a server that could not be reached, did not answer in time,
    // was too slow or failed the TLS checks is skipped.
    DWORD offlineSeconds = 300;
    // Low-speed limit: a transfer (TLS handshake, reply head and body alike)
    // that brings fewer than lowSpeedBytes in lowSpeedSeconds is abandoned.
    // 4096 bytes in 10 s is about 400 bytes/s, a tenth of what even a dial-up
    // or GPRS line carries, so no real download falls under it; a server that
    // trickles (one byte every 500 ms would take hours for a PDB) is given up
    // after 10 s.
    DWORD lowSpeedBytes = 4096;
    DWORD lowSpeedSeconds = 10;
    CProxyConfig proxy;
    // Why the configured proxy cannot be used: downloads are then refused
    // rather than sent around it.
    std::string proxyError;
    int maxRedirects = 5;
    unsigned long long maxBytes = 0x40000000ull; // largest body accepted
    // The name lookup (null: the platform's); tests pass a slow one.
    CHostResolver::Lookup lookup;
};
