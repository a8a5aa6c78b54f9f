#include "PeImage.h"

#include "DebugDirectory.h"
#include "ImportDirectory.h"

// What is read, at file offsets:
//   DOS header: "MZ", and at 0x3C e_lfanew, the offset of "PE\0\0".
//   File header (20 bytes after the signature): Machine, NumberOfSections,
//   TimeDateStamp, PointerToSymbolTable, NumberOfSymbols,
//   SizeOfOptionalHeader, Characteristics.
//   Optional header (SizeOfOptionalHeader bytes), by its Magic:
//     0x10b (PE32):  at 28 ImageBase (u32), at 92 NumberOfRvaAndSizes, at 96
//                    the data directories;
//     0x20b (PE32+): at 24 ImageBase (u64), at 108 NumberOfRvaAndSizes, at
//                    112 the data directories (PE32+ drops BaseOfData and
//                    widens ImageBase and the four stack and heap sizes);
//     both: at 56 SizeOfImage, at 60 SizeOfHeaders, at 64 CheckSum. Data
//     directories are (RVA, size) pairs, of which 0 is exports, 1 imports and 6 debug.
//   Section table: NumberOfSections headers right after the optional header.
//   Export directory (40 bytes): at 20 NumberOfFunctions, NumberOfNames,
//   AddressOfFunctions, AddressOfNames. Its tables hold 32-bit RVAs in both
//   formats, as does the debug directory.

namespace
{
const uint8_t kMz[2] = {'M', 'Z'};
const uint8_t kPeSignature[4] = {'P', 'E', 0, 0};
const size_t kLfanewOffset = 0x3C;
const uint16_t kPe32Magic = 0x10b;
const uint16_t kPe32PlusMagic = 0x20b;
const size_t kPe32ImageBaseOffset = 28;
const size_t kPe32PlusImageBaseOffset = 24;
const size_t kSizeOfImageOffset = 56;
const size_t kPe32NumberOfRvaAndSizesOffset = 92;
const size_t kPe32PlusNumberOfRvaAndSizesOffset = 108;
const uint32_t kMaxDataDirectories = 16;
const uint32_t kExportDirectory = 0;
const uint32_t kImportDirectory = 1;
const uint32_t kDebugDirectory = 6;
const size_t kExportDirectorySize = 40;
} // namespace

CPeImage::CPeImage()
{
    Clear();
}

void CPeImage::Clear()
{
    m_machine = 0;
    m_characteristics = 0;
    m_timeDateStamp = 0;
    m_pe32Plus = false;
    m_imageBase = 0;
    m_sizeOfImage = 0;
    m_sizeOfHeaders = 0;
    m_checkSum = 0;
    m_pointerToSymbolTable = 0;
    m_numberOfSymbols = 0;
    m_exportRva = 0;
    m_exportSize = 0;
    m_importRva = 0;
    m_debugRva = 0;
    m_debugSize = 0;
    m_hasExports = false;
    m_hasCoffSymbols = false;
    m_codeView = CCodeViewRecord();
    m_miscDbgName.clear();
    m_importNames.clear();
    m_sections = CSectionTable();
}

bool CPeImage::Parse(const uint8_t* data, size_t size)
{
    Clear();
    CByteReader file(data, size);
    if (!ReadHeaders(file) || !ReadDebugDirectory(file))
    {
        Clear();
        return false;
    }
    ReadExports(file);
    ReadImports(file);

    if (m_pointerToSymbolTable != 0 && m_numberOfSymbols != 0)
    {
        size_t tableSize = 0;
        CByteReader table;
        if (CByteReader::CheckedMultiply(m_numberOfSymbols, CDebugDirectory::kCoffSymbolSize, tableSize) &&
            file.GetSubReader(m_pointerToSymbolTable, tableSize, table))
            m_hasCoffSymbols = true;
    }
    return true;
}

bool CPeImage::ReadHeaders(CByteReader& file)
{
    uint32_t lfanew = 0;
    uint16_t numberOfSections = 0;
    uint16_t sizeOfOptionalHeader = 0;
    if (!file.ReadMatch(kMz, 2) || !file.Seek(kLfanewOffset) || !file.ReadU32(lfanew) || !file.Seek(lfanew) ||
        !file.ReadMatch(kPeSignature, 4) || !file.ReadU16(m_machine) || !file.ReadU16(numberOfSections) ||
        !file.ReadU32(m_timeDateStamp) || !file.ReadU32(m_pointerToSymbolTable) || !file.ReadU32(m_numberOfSymbols) ||
        !file.ReadU16(sizeOfOptionalHeader) || !file.ReadU16(m_characteristics))
        return false;

    CByteReader optional;
    uint16_t magic = 0;
    if (!file.ReadSubReader(sizeOfOptionalHeader, optional) || !optional.ReadU16(magic) ||
        (magic != kPe32Magic && magic != kPe32PlusMagic))
        return false;
    m_pe32Plus = magic == kPe32PlusMagic;

    // Every field up to NumberOfRvaAndSizes must be present; the reader then
    // stands at the data directories, which are checked as they are read.
    const size_t imageBaseOffset = m_pe32Plus ? kPe32PlusImageBaseOffset : kPe32ImageBaseOffset;
    const size_t countOffset = m_pe32Plus ? kPe32PlusNumberOfRvaAndSizesOffset : kPe32NumberOfRvaAndSizesOffset;
    uint32_t imageBase32 = 0;
    uint32_t numberOfRvaAndSizes = 0;
    if (!optional.Seek(imageBaseOffset) ||
        !(m_pe32Plus ? optional.ReadU64(m_imageBase) : optional.ReadU32(imageBase32)) ||
        !optional.Seek(kSizeOfImageOffset) || !optional.ReadU32(m_sizeOfImage) || !optional.ReadU32(m_sizeOfHeaders) ||
        !optional.ReadU32(m_checkSum) || !optional.Seek(countOffset) || !optional.ReadU32(numberOfRvaAndSizes))
        return false;
    if (!m_pe32Plus)
        m_imageBase = imageBase32;
    // Directories beyond the sixteen defined ones carry nothing we use.
    if (numberOfRvaAndSizes > kMaxDataDirectories)
        numberOfRvaAndSizes = kMaxDataDirectories;
    for (uint32_t index = 0; index < numberOfRvaAndSizes; ++index)
    {
        uint32_t rva = 0;
        uint32_t directorySize = 0;
        if (!optional.ReadU32(rva) || !optional.ReadU32(directorySize))
            return false;
        if (index == kExportDirectory)
        {
            m_exportRva = rva;
            m_exportSize = directorySize;
        }
        else if (index == kImportDirectory)
        {
            // The size is often imprecise; the table ends with its all-zero descriptor.
            m_importRva = directorySize != 0 ? rva : 0;
        }
        else if (index == kDebugDirectory)
        {
            m_debugRva = rva;
            m_debugSize = directorySize;
        }
    }
    return m_sections.Read(file, numberOfSections);
}

bool CPeImage::MapRange(const CByteReader& file, uint32_t rva, uint32_t size, CByteReader& out) const
{
    size_t offset = 0;
    return m_sections.MapRva(rva, size, m_sizeOfHeaders, offset) && file.GetSubReader(offset, size, out);
}

void CPeImage::ReadExports(const CByteReader& file)
{
    CByteReader directory;
    if (m_exportRva == 0 || m_exportSize == 0 || !MapRange(file, m_exportRva, kExportDirectorySize, directory))
        return;
    uint32_t numberOfFunctions = 0;
    uint32_t numberOfNames = 0;
    uint32_t addressOfFunctions = 0;
    uint32_t addressOfNames = 0;
    if (!directory.Seek(20) || !directory.ReadU32(numberOfFunctions) || !directory.ReadU32(numberOfNames) ||
        !directory.ReadU32(addressOfFunctions) || !directory.ReadU32(addressOfNames))
        return;

    // Each table holds 32-bit RVAs; a count whose table does not fit in 32 bits cannot be mapped.
    CByteReader table;
    const bool functions = numberOfFunctions != 0 && numberOfFunctions <= UINT32_MAX / 4 &&
                           MapRange(file, addressOfFunctions, numberOfFunctions * 4, table);
    const bool names = numberOfNames != 0 && numberOfNames <= UINT32_MAX / 4 &&
                       MapRange(file, addressOfNames, numberOfNames * 4, table);
    m_hasExports = functions || names;
}

void CPeImage::ReadImports(const CByteReader& file)
{
    if (m_importRva == 0)
        return;
    CImportDirectory directory;
    const auto locate = [&](uint32_t rva, CByteReader& rest)
    {
        size_t offset = 0;
        return m_sections.MapRva(rva, 1, m_sizeOfHeaders, offset) && offset < file.GetSize() &&
               file.GetSubReader(offset, file.GetSize() - offset, rest);
    };
    directory.Parse(m_importRva, locate);
    m_importNames = directory.GetNames();
}

bool CPeImage::ReadDebugDirectory(const CByteReader& file)
{
    if (m_debugRva == 0 || m_debugSize == 0)
        return true;
    CByteReader range;
    CDebugDirectory directory;
    if (!MapRange(file, m_debugRva, m_debugSize, range) || !directory.Parse(range))
        return false;

    for (const CDebugDirectory::Entry& entry : directory.GetEntries())
    {
        if (entry.sizeOfData == 0)
            continue;
        CByteReader data;
        bool found = false;
        if (entry.pointerToRawData != 0)
            found = file.GetSubReader(entry.pointerToRawData, entry.sizeOfData, data);
        else if (entry.addressOfRawData != 0)
            found = MapRange(file, entry.addressOfRawData, entry.sizeOfData, data);
        // Stripping an image keeps the entries whose data moved to the DBG
        // file, with offsets into that file: such entries are skipped there,
        // but in an unstripped image they mean a damaged file.
        if (!found || !ReadDebugEntry(entry.type, data))
        {
            if (!IsDebugStripped())
                return false;
        }
    }
    return true;
}

bool CPeImage::ReadDebugEntry(uint32_t type, const CByteReader& data)
{
    switch (type)
    {
    case CDebugDirectory::TypeCodeView:
        if (HasCodeView())
            return true;
        return m_codeView.Parse(data);
    case CDebugDirectory::TypeCoff:
        if (!CDebugDirectory::IsCoffSymbolData(data))
            return false;
        m_hasCoffSymbols = true;
        return true;
    case CDebugDirectory::TypeMisc:
    {
        std::string name;
        if (!m_miscDbgName.empty())
            return true;
        if (CDebugDirectory::ReadMiscExeName(data, name))
            m_miscDbgName = name;
        // A MISC entry may hold other record types only; that is not damage.
        return true;
    }
    default:
        return true;
    }
}
