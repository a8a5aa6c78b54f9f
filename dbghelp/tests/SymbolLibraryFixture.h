#pragma once
#include <windows.h>
#include <dbghelp.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DbgHelpLibrary.h"
#include "TestSupport.h"

// Tests of the built dbghelp.dll through its exports. One copy of the DLL is
// loaded per suite from a private directory; each test gets a fresh session
// (SymInitialize on the current process), a work directory for stores and
// copies, and the diagnostic lines the library sent during the test.
class SymbolLibraryFixture : public ::testing::Test
{
public:
    static void SetUpTestSuite();
    static void TearDownTestSuite();

protected:
    // Every test asks for the diagnostic lines; most refuse mismatched files.
    static constexpr DWORD kExact = SYMOPT_DEBUG | SYMOPT_EXACT_SYMBOLS;
    static constexpr DWORD kLoose = SYMOPT_DEBUG;

    void SetUp() override;
    void TearDown() override;

    // The generated samples (Windows path, no trailing backslash) and their parts.
    static std::string Samples();
    static std::string Image(const std::string& name);
    static std::string Symbols() { return Samples() + "\\symbols"; }
    static std::string Store() { return Samples() + "\\store"; }
    // A value of manifest.ini ("" when absent), and the same read as a number (0 when absent).
    static std::string Manifest(const std::string& section, const std::string& key);
    static ULONG64 ManifestNumber(const std::string& section, const std::string& key);
    // The GUID text of a record's PdbSig70, as the manifest writes it.
    static std::string GuidText(const GUID& guid);
    // The images whose symbols live in separate files: PDB 7.00 (rsds.exe,
    // and rsds64.exe, an x64 image), PDB 2.00 (nb10.dll), DBG with CodeView
    // (dbgcv.dll), DBG naming a PDB 2.00 (dbgpdb.dll).
    static const std::vector<std::string>& SeparateSymbolImages();
    // The damaged PDB samples (damaged\<name>), the image each claims to
    // match and the words of the reason they are refused for.
    struct DamagedPdb
    {
        const char* name;
        const char* image;
        const char* reason;
    };
    static const std::vector<DamagedPdb>& DamagedPdbs();
    // The manifest's symbol type of an image.
    static DWORD SymTypeOf(const std::string& image);
    // The store paths (name\key\name) of an image's symbol files, DBG first.
    static std::vector<std::string> StorePaths(const std::string& image);

    // Loads an image by name through searchPath with the given options; the
    // module is unloaded again, its record (the largest size) returned.
    // base receives the load's result, error the last error after the load.
    IMAGEHLP_MODULE64 Load(const std::string& image, const std::string& searchPath, DWORD options,
                           DWORD64* base = nullptr, DWORD* error = nullptr);
    // Ends the session and starts a new one, as a new debugging session or
    // process does; symsrv.ini is read again.
    void NewSession();
    // A store chain with a fresh downstream store in the work directory.
    std::string Downstream() const { return m_work->File("down"); }
    // A store chain from the downstream store to upstream (one or more stores).
    std::string Chain(const std::string& upstream) const { return "srv*" + Downstream() + "*" + upstream; }
    // Writes symsrv.ini beside the library; removed after the test.
    void WriteSymsrvIni(const std::string& text);
    // The diagnostic lines holding fragment: is there one, how many; all of them.
    bool HasLine(const std::string& fragment) const { return CountLines(fragment) > 0; }
    size_t CountLines(const std::string& fragment) const;
    std::string AllLines() const;
    // The downstream store holds exactly the image's symbol files, each equal
    // to the sample store's; with remove, they are deleted afterwards.
    void ExpectDownstreamHoldsExactly(const std::string& image, bool remove = false) const;

    static CDbgHelpLibrary& Lib() { return *s_library; }
    HANDLE Process() const { return GetCurrentProcess(); }

    std::unique_ptr<CTempDir> m_work;
    std::vector<std::string> m_lines;

private:
    void StartSession();
    static BOOL CALLBACK OnNotify(HANDLE process, ULONG action, ULONG64 data, ULONG64 context);

    static CTempDir* s_libraryDir;
    static CDbgHelpLibrary* s_library;
};
