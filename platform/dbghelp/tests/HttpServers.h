#pragma once

#include <string>

// The loopback store servers of tests/http-servers.sh, which CTest's http
// fixture starts before a test program: their ports (0 when the fixture did
// not run), URLs and request logs (one "METHOD PATH RESULT" line each).
unsigned HttpServerPort(const char* name);
std::string HttpServerUrl(const char* name, const std::string& path = "");
std::string HttpServerLog(const char* name);
