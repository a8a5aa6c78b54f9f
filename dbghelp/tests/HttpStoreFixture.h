#pragma once

#include <cstdlib>
#include <string>

#include "SymbolLibraryFixture.h"

// Tests of the library's HTTP and HTTPS stores against the loopback servers
// of tests/http-servers.sh, which CTest's http fixture starts before the
// program (and its tls fixture, which trusts their test CA in the prefix).
// "samples" serves the generated samples directory over HTTP, "tlssamples"
// over HTTPS.
class HttpStoreFixture : public SymbolLibraryFixture
{
protected:
    void SetUp() override
    {
        SymbolLibraryFixture::SetUp();
        ASSERT_NE(0u, Port("samples"))
            << "no server ports in QX3_TESTDIR\\http-servers.ini: run this test through ctest, whose http "
               "fixture starts them";
    }

    static unsigned Port(const char* name) { return HttpServerPort(name); }
    static std::string Url(const char* server, const std::string& path = "")
    {
        return "http://127.0.0.1:" + std::to_string(Port(server)) + path;
    }
    // The HTTPS servers' certificates name "localhost".
    static std::string TlsUrl(const char* server, const std::string& path = "")
    {
        return "https://localhost:" + std::to_string(Port(server)) + path;
    }
    // The request log of a server (one "METHOD PATH RESULT" line each).
    static std::string ServerLog(const char* name)
    {
        const char* dir = getenv("QX3_TESTDIR");
        return ReadFileBytes(std::string(dir != nullptr ? dir : "") + "\\http\\" + name + ".log");
    }
    // A directory of the samples (relative, with '/') as a local path and as
    // a URL of the samples server: the same store forms, read and downloaded.
    static std::vector<std::string> LocalAndHttp(const std::string& relative)
    {
        std::string local = Samples() + "\\" + relative;
        for (char& c : local)
            c = c == '/' ? '\\' : c;
        return {local, Url("samples", "/" + relative)};
    }

    // Loads every image whose symbols live in separate files through path
    // under EXACT; each must be found.
    void LoadEachKind(const std::string& path)
    {
        for (const std::string& image : SeparateSymbolImages())
            EXPECT_EQ(SymTypeOf(image), Load(Image(image), path, kExact).SymType) << image << "\n" << AllLines();
    }

    // Re-reads symsrv.ini, as the library does at SymInitialize.
    void UseSymsrvIni(const std::string& text)
    {
        WriteSymsrvIni(text);
        ASSERT_TRUE(Lib().Initialize(Process(), nullptr, FALSE));
    }
};
