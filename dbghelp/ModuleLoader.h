#pragma once
#include <windows.h>
#include <dbghelp.h>

#include <array>
#include <cstdint>
#include <string>

#include "CodeViewRecord.h"
#include "PeImage.h"
#include "SymbolSearch.h"

// Decides which symbols an image gets and fills its module record: a PDB
// named by the image's CodeView record, a DBG file (with CodeView data, COFF
// symbols or a PDB of its own) for a stripped image, CodeView data or COFF
// symbols inside the image, else the export table, else nothing. Symbol
// files are accepted only when their signature or GUID and age (DBG:
// TimeDateStamp and SizeOfImage) agree with the image; without
// SYMOPT_EXACT_SYMBOLS a mismatched file from a plain directory is used when
// nothing matches, with PdbUnmatched or DbgUnmatched set.
class CModuleLoader
{
public:
    // Symbol files are mapped whole to read them; anything larger is not a
    // symbol file this library opens (and would hardly find room in a 32-bit
    // process's address space).
    static constexpr uint64_t kMaxSymbolFileBytes = 0x40000000ull;

    explicit CModuleLoader(const CSymbolSearch::Settings& settings);

    // Parses the image; false when it is no usable PE32 or PE32+ image.
    bool ParseImage(const uint8_t* data, size_t size);
    const CPeImage& GetImage() const { return m_image; }

    // Fills module (every field of the largest record) for the parsed image.
    // imageName may be empty (a load by handle alone).
    void Resolve(const std::string& imageName, const std::string& moduleName, DWORD64 base, DWORD size, DWORD options,
                 IMAGEHLP_MODULE64& module);

    // The check of a candidate PDB: a GUID-signed one (PDB 7.00) must carry
    // guid, else signature (PDB 2.00); and age.
    static CSymbolSearch::Verifier PdbVerifier(bool guidSigned, const std::array<uint8_t, 16>& guid,
                                               uint32_t signature, uint32_t age);
    // The check of a candidate DBG file: the image's TimeDateStamp and SizeOfImage.
    static CSymbolSearch::Verifier DbgVerifier(uint32_t timeDateStamp, uint32_t sizeOfImage);

private:
    struct DbgResult;

    bool FindPdb(const CCodeViewRecord& record, const std::string& extension, bool exact, std::string& path,
                 bool& unmatched);
    bool FindDbg(const std::string& imageName, const std::string& extension, bool exact, std::string& path,
                 bool& unmatched, CCodeViewRecord& codeView, bool& hasCoff);
    static void SetPdbIdentity(const CCodeViewRecord& record, IMAGEHLP_MODULE64& module);
    void Emit(const std::string& line);

    CSymbolSearch m_search;
    CSymbolSearch::Diagnostic m_diagnostic;
    CPeImage m_image;
};
