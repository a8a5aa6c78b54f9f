#pragma once

#include <string>

#include "HttpOptions.h"

// The download settings of the symbol library: section [Http] of its
// symsrv.ini, and where that names no proxy, the system's (the WinINet
// setting of the current user).
//   Timeout          ms for each network wait (2000)
//   OfflineSeconds   how long a failed server is skipped (300)
//   LowSpeedBytes    at least this many bytes ...
//   LowSpeedSeconds  ... in every stretch of this many seconds (4096 in 10)
//   Proxy            host:port for every download, or "direct" for none,
//                    even when the system names one
// A value that is missing or out of range keeps its default.
class CHttpSettings
{
public:
    static HttpOptions Read(const std::string& iniPath);
    // The system's proxy into options, when one is enabled and set.
    static void ReadSystemProxy(HttpOptions& options);
};
