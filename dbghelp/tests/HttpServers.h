#pragma once

#include <string>

#include "TestSupport.h"

// The loopback store servers of tests/http-servers.sh, which CTest's http
// fixture starts before a test program: their URLs and request logs (one
// "METHOD PATH RESULT" line each). Their ports: HttpServerPort in TestSupport.
std::string HttpServerUrl(const char* name, const std::string& path = "");
std::string HttpServerLog(const char* name);
