#include "PdbFile.h"

// Both formats cut the file into pages of one size, page 0 holding the
// header. A stream is the concatenation of the pages listed for it, cut to
// its byte size; a size of 0xFFFFFFFF marks an unused stream with no pages.
// A stream directory gives every stream's size and page list.
//
// MSF 7.00 header, offsets from the file start:
//    0  32-byte magic "Microsoft C/C++ MSF 7.00\r\n" 0x1A "DS" 0 0 0
//   32  u32 page size
//   36  u32 page of the free-page map
//   40  u32 number of pages in the file
//   44  u32 byte size of the stream directory
//   48  u32 (unused here)
//   52  u32 page holding the list (u32 each) of the directory's pages
// Directory: u32 stream count, u32 size of each stream, then each stream's
// u32 page numbers in stream order.
//
// PDB 2.00 header:
//    0  44-byte magic "Microsoft C/C++ program database 2.00\r\n" 0x1A "JG" 0 0
//   44  u32 page size
//   48  u16 page of the free-page map
//   50  u16 number of pages in the file
//   52  u32 byte size of the stream directory
//   56  u32 (unused here)
//   60  u16 page numbers of the directory, as many as its size needs
// Directory: u16 stream count, u16 unused, then per stream a u32 size and a
// u32 unused word, then each stream's u16 page numbers in stream order.
//
// PDB info stream (stream 1): u32 version, u32 signature, u32 age, and for
// versions from 20000404 (VC70) on a 16-byte GUID.

#include <algorithm>

namespace
{
const char kMsf7Magic[] = "Microsoft C/C++ MSF 7.00\r\n\x1a" "DS\0\0";
const size_t kMsf7MagicSize = 32;
const char kMsf2Magic[] = "Microsoft C/C++ program database 2.00\r\n\x1a" "JG\0";
const size_t kMsf2MagicSize = 44;
static_assert(sizeof(kMsf7Magic) == kMsf7MagicSize, "the magic includes its zero padding");
static_assert(sizeof(kMsf2Magic) == kMsf2MagicSize, "the magic includes its zero padding");

const uint32_t kNilStreamSize = 0xFFFFFFFF;
const size_t kInfoStream = 1;
const size_t kInfoStreamMaxPrefix = 28;

bool IsValidPageSize(uint32_t pageSize)
{
    return pageSize >= 512 && pageSize <= 65536 && (pageSize & (pageSize - 1)) == 0;
}

size_t PagesFor(uint32_t streamSize, size_t pageSize)
{
    if (streamSize == kNilStreamSize)
        return 0;
    return streamSize / pageSize + (streamSize % pageSize != 0 ? 1 : 0);
}

// The layout parameters of one file, and the reading of a stream from it.
struct PagedFile
{
    const CByteReader& file;
    size_t pageSize;
    uint32_t pageCount;

    // The first size bytes of the stream made of pages. No stream can be
    // larger than the file, which also bounds what is allocated.
    bool ReadStream(const std::vector<uint32_t>& pages, size_t size, std::vector<uint8_t>& out) const
    {
        out.clear();
        if (size > file.GetSize() || pages.size() < (size + pageSize - 1) / pageSize)
            return false;
        out.reserve(size);
        for (size_t i = 0; out.size() < size; ++i)
        {
            const uint32_t page = pages[i];
            size_t offset = 0;
            CByteReader reader;
            const size_t count = std::min(pageSize, size - out.size());
            if (page == 0 || page >= pageCount || !CByteReader::CheckedMultiply(page, pageSize, offset)
                || !file.GetSubReader(offset, count, reader) || !reader.AppendBytes(out, count))
                return false;
        }
        return true;
    }
};

// Reads a stream's page list from a directory positioned at the first page
// number, skipping the lists of the streams before it.
bool ReadPageList(CByteReader& directory, const std::vector<uint32_t>& sizes, size_t stream, size_t pageSize,
                  size_t pageNumberSize, std::vector<uint32_t>& pages)
{
    for (size_t i = 0; i < stream; ++i)
    {
        size_t bytes = 0;
        if (!CByteReader::CheckedMultiply(PagesFor(sizes[i], pageSize), pageNumberSize, bytes)
            || !directory.Skip(bytes))
            return false;
    }
    const size_t count = PagesFor(sizes[stream], pageSize);
    if (pageNumberSize == 4)
        return directory.ReadU32Array(pages, count);
    std::vector<uint16_t> narrow;
    if (!directory.ReadU16Array(narrow, count))
        return false;
    pages.assign(narrow.begin(), narrow.end());
    return true;
}
}

CPdbFile::CPdbFile()
{
    Clear();
}

void CPdbFile::Clear()
{
    m_msfVersion = 0;
    m_version = 0;
    m_signature = 0;
    m_age = 0;
    m_hasGuid = false;
    m_guid.fill(0);
}

bool CPdbFile::Parse(const uint8_t* data, size_t size)
{
    Clear();
    CByteReader file(data, size);
    bool ok = false;
    if (file.ReadMatch(kMsf7Magic, kMsf7MagicSize))
    {
        m_msfVersion = 7;
        ok = ParseMsf7(file);
    }
    else if (file.ReadMatch(kMsf2Magic, kMsf2MagicSize))
    {
        m_msfVersion = 2;
        ok = ParseMsf2(file);
    }
    if (!ok)
        Clear();
    return ok;
}

bool CPdbFile::ParseMsf7(CByteReader& file)
{
    uint32_t pageSize = 0;
    uint32_t freePageMap = 0;
    uint32_t pageCount = 0;
    uint32_t directorySize = 0;
    uint32_t unused = 0;
    uint32_t directoryListPage = 0;
    if (!file.ReadU32(pageSize) || !file.ReadU32(freePageMap) || !file.ReadU32(pageCount)
        || !file.ReadU32(directorySize) || !file.ReadU32(unused) || !file.ReadU32(directoryListPage)
        || !IsValidPageSize(pageSize))
        return false;

    const PagedFile paged = {file, pageSize, pageCount};
    size_t listOffset = 0;
    CByteReader list;
    std::vector<uint32_t> directoryPages;
    std::vector<uint8_t> directoryBytes;
    if (directoryListPage == 0 || directoryListPage >= pageCount
        || !CByteReader::CheckedMultiply(directoryListPage, pageSize, listOffset) || !file.Seek(listOffset)
        || !file.ReadU32Array(directoryPages, PagesFor(directorySize, pageSize))
        || !paged.ReadStream(directoryPages, directorySize, directoryBytes))
        return false;

    CByteReader directory(directoryBytes.data(), directoryBytes.size());
    uint32_t streamCount = 0;
    std::vector<uint32_t> sizes;
    std::vector<uint32_t> pages;
    std::vector<uint8_t> info;
    return directory.ReadU32(streamCount) && streamCount > kInfoStream
           && directory.ReadU32Array(sizes, streamCount) && sizes[kInfoStream] != kNilStreamSize
           && ReadPageList(directory, sizes, kInfoStream, pageSize, 4, pages)
           && paged.ReadStream(pages, std::min<size_t>(sizes[kInfoStream], kInfoStreamMaxPrefix), info)
           && ReadInfoStream(info);
}

bool CPdbFile::ParseMsf2(CByteReader& file)
{
    uint32_t pageSize = 0;
    uint16_t freePageMap = 0;
    uint16_t pageCount = 0;
    uint32_t directorySize = 0;
    uint32_t unused = 0;
    std::vector<uint16_t> narrowPages;
    if (!file.ReadU32(pageSize) || !file.ReadU16(freePageMap) || !file.ReadU16(pageCount)
        || !file.ReadU32(directorySize) || !file.ReadU32(unused) || !IsValidPageSize(pageSize)
        || !file.ReadU16Array(narrowPages, PagesFor(directorySize, pageSize)))
        return false;

    const PagedFile paged = {file, pageSize, pageCount};
    const std::vector<uint32_t> directoryPages(narrowPages.begin(), narrowPages.end());
    std::vector<uint8_t> directoryBytes;
    if (!paged.ReadStream(directoryPages, directorySize, directoryBytes))
        return false;

    CByteReader directory(directoryBytes.data(), directoryBytes.size());
    uint16_t streamCount = 0;
    uint16_t reserved = 0;
    if (!directory.ReadU16(streamCount) || !directory.ReadU16(reserved) || streamCount <= kInfoStream)
        return false;
    std::vector<uint32_t> sizes;
    size_t tableSize = 0;
    if (!CByteReader::CheckedMultiply(streamCount, 8, tableSize) || tableSize > directory.GetRemaining())
        return false;
    sizes.reserve(streamCount);
    for (uint16_t i = 0; i < streamCount; ++i)
    {
        uint32_t streamSize = 0;
        if (!directory.ReadU32(streamSize) || !directory.ReadU32(unused))
            return false;
        sizes.push_back(streamSize);
    }

    std::vector<uint32_t> pages;
    std::vector<uint8_t> info;
    return sizes[kInfoStream] != kNilStreamSize && ReadPageList(directory, sizes, kInfoStream, pageSize, 2, pages)
           && paged.ReadStream(pages, std::min<size_t>(sizes[kInfoStream], kInfoStreamMaxPrefix), info)
           && ReadInfoStream(info);
}

bool CPdbFile::ReadInfoStream(const std::vector<uint8_t>& stream)
{
    CByteReader reader(stream.data(), stream.size());
    if (!reader.ReadU32(m_version) || !reader.ReadU32(m_signature) || !reader.ReadU32(m_age))
        return false;
    m_hasGuid = m_version >= kVersionVc70;
    return !m_hasGuid || reader.ReadBytes(m_guid.data(), m_guid.size());
}
