#include "HttpServers.h"

#include <windows.h>

#include <cstdlib>

#include "TestSupport.h"

namespace
{
std::string TestDirectory()
{
    const char* dir = getenv("QX3_TESTDIR");
    return dir != nullptr ? dir : "";
}
} // namespace

std::string HttpServerUrl(const char* name, const std::string& path)
{
    return "http://127.0.0.1:" + std::to_string(HttpServerPort(name)) + path;
}

std::string HttpServerLog(const char* name)
{
    return ReadFileBytes(TestDirectory() + "\\http\\" + name + ".log");
}
