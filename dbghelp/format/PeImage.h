#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ByteReader.h"
#include "CodeViewRecord.h"
#include "SectionTable.h"

// A PE image (PE32 or PE32+) as stored on disk, read for what symbol loading
// needs: the identity used to match DBG files and image stores
// (TimeDateStamp, SizeOfImage), whether it has exports or COFF symbols, its
// CodeView record and the DBG file named by its MISC debug entry. The two
// formats differ only in the optional header; everything it locates is
// read the same way.
class CPeImage
{
public:
    // IMAGE_FILE_DEBUG_STRIPPED: the debug data was moved to a DBG file.
    static constexpr uint16_t kDebugStripped = 0x0200;

    CPeImage();

    // Parses the whole file in data. On failure returns false and leaves the object empty.
    bool Parse(const uint8_t* data, size_t size);

    uint16_t GetMachine() const { return m_machine; }
    uint16_t GetCharacteristics() const { return m_characteristics; }
    uint32_t GetTimeDateStamp() const { return m_timeDateStamp; }
    uint32_t GetSizeOfImage() const { return m_sizeOfImage; }
    // The preferred load address from the optional header: 64 bits wide in PE32+.
    uint64_t GetImageBase() const { return m_imageBase; }
    // A PE32+ (64-bit) optional header.
    bool IsPe32Plus() const { return m_pe32Plus; }
    uint32_t GetCheckSum() const { return m_checkSum; }
    bool IsDebugStripped() const { return (m_characteristics & kDebugStripped) != 0; }
    // An export directory naming at least one function or name, all inside the file.
    bool HasExports() const { return m_hasExports; }
    // A COFF symbol table in the file, through the file header or a COFF debug entry.
    bool HasCoffSymbols() const { return m_hasCoffSymbols; }
    bool HasCodeView() const { return m_codeView.GetKind() != CCodeViewRecord::None; }
    // The first well-formed CodeView record of the debug directory.
    const CCodeViewRecord& GetCodeView() const { return m_codeView; }
    // The DBG file name from the MISC debug entry; empty when there is none.
    const std::string& GetMiscDbgName() const { return m_miscDbgName; }
    // The DLL names of the import directory, in table order (CImportDirectory);
    // a damaged table gives the names read before the damage.
    const std::vector<std::string>& GetImportNames() const { return m_importNames; }

private:
    void Clear();
    bool ReadHeaders(CByteReader& file);
    void ReadExports(const CByteReader& file);
    void ReadImports(const CByteReader& file);
    bool ReadDebugDirectory(const CByteReader& file);
    bool ReadDebugEntry(uint32_t type, const CByteReader& data);
    bool MapRange(const CByteReader& file, uint32_t rva, uint32_t size, CByteReader& out) const;

    uint16_t m_machine;
    uint16_t m_characteristics;
    uint32_t m_timeDateStamp;
    bool m_pe32Plus;
    uint64_t m_imageBase;
    uint32_t m_sizeOfImage;
    uint32_t m_sizeOfHeaders;
    uint32_t m_checkSum;
    uint32_t m_pointerToSymbolTable;
    uint32_t m_numberOfSymbols;
    uint32_t m_exportRva;
    uint32_t m_exportSize;
    uint32_t m_importRva;
    uint32_t m_debugRva;
    uint32_t m_debugSize;
    bool m_hasExports;
    bool m_hasCoffSymbols;
    CCodeViewRecord m_codeView;
    std::string m_miscDbgName;
    std::vector<std::string> m_importNames;
    CSectionTable m_sections;
};
