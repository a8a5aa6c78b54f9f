#include "DbgFile.h"

#include "DebugDirectory.h"
#include "SectionTable.h"

// Layout, at file offsets:
//   IMAGE_SEPARATE_DEBUG_HEADER (48 bytes): Signature u16 "DI" (0x4944),
//   Flags u16, Machine u16, Characteristics u16, TimeDateStamp, CheckSum,
//   ImageBase, SizeOfImage, NumberOfSections, ExportedNamesSize,
//   DebugDirectorySize, SectionAlignment, two reserved u32.
//   Then NumberOfSections section headers, ExportedNamesSize bytes of
//   exported names, and DebugDirectorySize bytes of debug directory, whose
//   entries locate their data by file offset (PointerToRawData).

namespace
{
const uint16_t kDbgSignature = 0x4944;
}

CDbgFile::CDbgFile()
{
    Clear();
}

void CDbgFile::Clear()
{
    m_timeDateStamp = 0;
    m_sizeOfImage = 0;
    m_hasCoff = false;
    m_codeView = CCodeViewRecord();
}

bool CDbgFile::Parse(const uint8_t* data, size_t size)
{
    Clear();
    CByteReader file(data, size);
    uint16_t signature = 0;
    uint32_t numberOfSections = 0;
    uint32_t exportedNamesSize = 0;
    uint32_t debugDirectorySize = 0;
    uint32_t sectionAlignment = 0;
    uint32_t reserved = 0;
    CSectionTable sections;
    CByteReader directory;
    // Flags, Machine and Characteristics, then CheckSum and ImageBase, are
    // not needed to match a DBG file to its image.
    const bool ok = file.ReadU16(signature) && signature == kDbgSignature && file.Skip(3 * sizeof(uint16_t)) &&
                    file.ReadU32(m_timeDateStamp) && file.Skip(2 * sizeof(uint32_t)) && file.ReadU32(m_sizeOfImage) &&
                    file.ReadU32(numberOfSections) && file.ReadU32(exportedNamesSize) &&
                    file.ReadU32(debugDirectorySize) && file.ReadU32(sectionAlignment) && file.ReadU32(reserved) &&
                    file.ReadU32(reserved) && sections.Read(file, numberOfSections) && file.Skip(exportedNamesSize) &&
                    file.ReadSubReader(debugDirectorySize, directory) && ReadDebugDirectory(file, directory);
    if (!ok)
        Clear();
    return ok;
}

bool CDbgFile::ReadDebugDirectory(const CByteReader& file, const CByteReader& directory)
{
    // A DBG without a debug directory carries no symbols at all.
    CDebugDirectory entries;
    if (!entries.Parse(directory))
        return false;
    for (const CDebugDirectory::Entry& entry : entries.GetEntries())
    {
        CByteReader data;
        if (entry.type != CDebugDirectory::TypeCodeView && entry.type != CDebugDirectory::TypeCoff)
            continue;
        if (!file.GetSubReader(entry.pointerToRawData, entry.sizeOfData, data))
            return false;
        if (entry.type == CDebugDirectory::TypeCodeView && !HasCodeView())
        {
            if (!m_codeView.Parse(data))
                return false;
        }
        else if (entry.type == CDebugDirectory::TypeCoff)
        {
            if (!CDebugDirectory::IsCoffSymbolData(data))
                return false;
            m_hasCoff = true;
        }
    }
    return true;
}
