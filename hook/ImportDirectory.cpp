#include "ImportDirectory.h"

namespace
{

// IMAGE_DOS_SIGNATURE "MZ" and IMAGE_NT_SIGNATURE "PE\0\0".
constexpr uint16_t kDosSignature = 0x5A4D;
constexpr uint32_t kNtSignature = 0x00004550;
constexpr size_t kDosHeaderSize = 64;
constexpr size_t kNtHeadersOffsetField = 0x3C;

// The NT headers: signature, 20-byte file header, then the optional header,
// whose layout differs between PE32 and PE32+ in the fields read here.
constexpr size_t kOptionalHeaderOffset = 24;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr size_t kSizeOfImageOffset = 56;

struct OptionalHeaderLayout
{
    size_t ntHeadersSize;      // sizeof(IMAGE_NT_HEADERS32/64)
    size_t rvaCountOffset;     // NumberOfRvaAndSizes
    size_t directoriesOffset;  // DataDirectory[0]
    size_t thunkSize;
};
constexpr OptionalHeaderLayout kPe32 = {248, 92, 96, 4};
constexpr OptionalHeaderLayout kPe32Plus = {264, 108, 112, 8};

constexpr uint32_t kImportDirectoryIndex = 1;  // IMAGE_DIRECTORY_ENTRY_IMPORT
constexpr size_t kDataDirectorySize = 8;

// IMAGE_IMPORT_DESCRIPTOR: OriginalFirstThunk, TimeDateStamp, ForwarderChain,
// Name, FirstThunk.
constexpr size_t kDescriptorSize = 20;
constexpr size_t kNameTableField = 0;
constexpr size_t kNameField = 12;
constexpr size_t kAddressTableField = 16;

// An IMAGE_IMPORT_BY_NAME entry starts with a 16-bit hint.
constexpr size_t kHintSize = 2;

char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool ReadU32At(const CByteReader& image, size_t offset, uint32_t& value)
{
    CByteReader field;
    return image.GetSubReader(offset, 4, field) && field.ReadU32(value);
}

} // namespace

CImportDirectory::CImportDirectory()
    : m_thunkSize(0), m_importRva(0)
{
}

bool CImportDirectory::Open(const uint8_t* image, size_t size)
{
    m_image = CByteReader();
    m_thunkSize = 0;
    m_importRva = 0;

    CByteReader file(image, size);
    uint16_t dosSignature = 0;
    uint32_t ntOffset = 0;
    if (size < kDosHeaderSize || !file.ReadU16(dosSignature) || dosSignature != kDosSignature ||
        !ReadU32At(file, kNtHeadersOffsetField, ntOffset))
        return false;

    CByteReader nt;
    uint32_t ntSignature = 0;
    uint16_t magic = 0;
    if (!file.GetSubReader(ntOffset, kPe32.ntHeadersSize, nt) || !nt.ReadU32(ntSignature) ||
        ntSignature != kNtSignature || !nt.Seek(kOptionalHeaderOffset) || !nt.ReadU16(magic))
        return false;
    const OptionalHeaderLayout* layout = nullptr;
    if (magic == kPe32Magic)
        layout = &kPe32;
    else if (magic == kPe32PlusMagic)
        layout = &kPe32Plus;
    else
        return false;

    uint32_t sizeOfImage = 0;
    uint32_t rvaCount = 0;
    if (!file.GetSubReader(ntOffset, layout->ntHeadersSize, nt) ||
        !ReadU32At(nt, kOptionalHeaderOffset + kSizeOfImageOffset, sizeOfImage) ||
        !ReadU32At(nt, kOptionalHeaderOffset + layout->rvaCountOffset, rvaCount))
        return false;

    // The image's own extent bounds every later read, also when more bytes
    // than that happen to be readable behind it.
    const size_t extent = sizeOfImage < size ? sizeOfImage : size;
    size_t headersEnd = 0;
    if (!CByteReader::CheckedAdd(ntOffset, layout->ntHeadersSize, headersEnd) || headersEnd > extent)
        return false;

    uint32_t importRva = 0;
    if (rvaCount > kImportDirectoryIndex &&
        !ReadU32At(nt, kOptionalHeaderOffset + layout->directoriesOffset +
                           kImportDirectoryIndex * kDataDirectorySize,
                   importRva))
        return false;

    m_image = CByteReader(image, extent);
    m_thunkSize = layout->thunkSize;
    m_importRva = importRva;
    return true;
}

bool CImportDirectory::FindDescriptor(const char* dllName, uint32_t& descriptorRva) const
{
    descriptorRva = 0;
    if (m_thunkSize == 0 || dllName == nullptr)
        return false;
    if (m_importRva == 0)
        return true;

    // The array ends with a descriptor whose name RVA is 0; the image's end
    // comes first in a damaged one.
    for (size_t offset = m_importRva;; offset += kDescriptorSize)
    {
        CByteReader descriptor;
        uint32_t nameRva = 0;
        if (!m_image.GetSubReader(offset, kDescriptorSize, descriptor) ||
            !ReadU32At(descriptor, kNameField, nameRva))
            return false;
        if (nameRva == 0)
            return true;
        bool equal = false;
        if (!MatchName(nameRva, dllName, equal))
            return false;
        if (equal)
        {
            descriptorRva = static_cast<uint32_t>(offset);
            return true;
        }
    }
}

bool CImportDirectory::FindSlot(uint32_t descriptorRva, const char* functionName, uint32_t& slotRva) const
{
    slotRva = 0;
    if (m_thunkSize == 0 || functionName == nullptr)
        return false;

    CByteReader descriptor;
    uint32_t nameTable = 0;
    uint32_t addressTable = 0;
    if (!m_image.GetSubReader(descriptorRva, kDescriptorSize, descriptor) ||
        !ReadU32At(descriptor, kNameTableField, nameTable) ||
        !ReadU32At(descriptor, kAddressTableField, addressTable))
        return false;
    // Without a name table the slots hold addresses only and no name can be
    // found; RVA 0 would make the walk read the headers as a table.
    if (nameTable == 0 || addressTable == 0 || addressTable % m_thunkSize != 0)
        return false;

    const uint64_t ordinalFlag = uint64_t(1) << (8 * m_thunkSize - 1);
    for (uint64_t index = 0;; ++index)
    {
        // Both tables lie inside the image, so the walk ends within
        // GetSize() / thunk size steps and the offsets cannot overflow.
        const uint64_t nameOffset = nameTable + index * m_thunkSize;
        const uint64_t slotOffset = addressTable + index * m_thunkSize;
        uint64_t entry = 0;
        uint64_t slot = 0;
        if (nameOffset > m_image.GetSize() || slotOffset > m_image.GetSize() ||
            !ReadThunk(static_cast<size_t>(nameOffset), entry))
            return false;
        if (entry == 0)
            return true;
        if (!ReadThunk(static_cast<size_t>(slotOffset), slot))
            return false;
        if (entry & ordinalFlag)
            continue;
        if (entry > m_image.GetSize() - kHintSize)
            return false;

        const uint32_t nameRva = static_cast<uint32_t>(entry + kHintSize);
        CByteReader first;
        uint8_t firstChar = 0;
        if (!m_image.GetSubReader(nameRva, 1, first) || !first.ReadU8(firstChar))
            return false;
        if (firstChar == 0)
            continue;
        bool equal = false;
        if (!MatchName(nameRva, functionName, equal))
            return false;
        if (equal)
        {
            slotRva = static_cast<uint32_t>(slotOffset);
            return true;
        }
    }
}

bool CImportDirectory::MatchName(uint32_t rva, const char* name, bool& equal) const
{
    CByteReader text;
    if (rva > m_image.GetSize() || !m_image.GetSubReader(rva, m_image.GetSize() - rva, text))
        return false;
    for (size_t i = 0;; ++i)
    {
        uint8_t c = 0;
        if (!text.ReadU8(c))
            return false;
        if (AsciiLower(static_cast<char>(c)) != AsciiLower(name[i]))
        {
            equal = false;
            return true;
        }
        if (c == 0)
        {
            equal = true;
            return true;
        }
    }
}

bool CImportDirectory::ReadThunk(size_t offset, uint64_t& value) const
{
    CByteReader thunk;
    if (!m_image.GetSubReader(offset, m_thunkSize, thunk))
        return false;
    if (m_thunkSize == 8)
        return thunk.ReadU64(value);
    uint32_t narrow = 0;
    if (!thunk.ReadU32(narrow))
        return false;
    value = narrow;
    return true;
}
