#pragma once

#include <cstdlib>
#include <string>

#include "SymbolLibraryFixture.h"

// Tests of the library's HTTP and HTTPS stores against the loopback servers
// of tests/http-servers.sh, which CTest's http fixture starts before the
// program (and its tls fixture, which trusts their test CA in the prefix).
class HttpStoreFixture : public SymbolLibraryFixture
{
protected:
    static constexpr DWORD kExact = SYMOPT_DEBUG | SYMOPT_EXACT_SYMBOLS;

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

    // The symbol type the sample's manifest expects.
    static ULONG ExpectedType(const std::string& image)
    {
        return strtoul(Manifest(image, "symtype").c_str(), nullptr, 10);
    }
    // Loads every image whose symbols live in separate files through path
    // under EXACT; each must be found.
    void LoadEachKind(const std::string& path)
    {
        for (const std::string& image : SeparateSymbolImages())
            EXPECT_EQ(ExpectedType(image), Load(Image(image), path, kExact).SymType) << image << "\n" << AllLines();
    }

    // Re-reads symsrv.ini, as the library does at SymInitialize.
    void UseSymsrvIni(const std::string& text)
    {
        WriteSymsrvIni(text);
        ASSERT_TRUE(Lib().Initialize(Process(), nullptr, FALSE));
    }

    size_t CountLines(const std::string& fragment) const
    {
        size_t count = 0;
        for (const std::string& line : m_lines)
            count += line.find(fragment) != std::string::npos ? 1 : 0;
        return count;
    }
    std::string AllLines() const
    {
        std::string all;
        for (const std::string& line : m_lines)
            all += line;
        return all;
    }
};
