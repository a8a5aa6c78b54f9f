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
//
// Debug information (DBI) stream (stream 3), current header: i32 signature
// -1, u32 version, u32 age. The linker writes the same age into
// both streams, but tools that rewrite a PDB after linking (source indexing,
// for one) raise only the info stream's: the DBI age is the one that still
// says which image the file belongs to. Older DBI headers start with a stream
// number instead of -1 and carry no age.

//
// A file counts only when its whole container holds together: the header's
// page count is the file's size in pages, every stream (the directory too)
// lies on pages inside the file, no page serves two streams, and every
// stream's page list is in the directory. A debugger that trusted a header
// claiming more than the file holds would read past its end.

#include <algorithm>

#include "ErrorText.h"

namespace
{
const char kMsf7Magic[] = "Microsoft C/C++ MSF 7.00\r\n\x1a"
                          "DS\0\0";
const size_t kMsf7MagicSize = 32;
const char kMsf2Magic[] = "Microsoft C/C++ program database 2.00\r\n\x1a"
                          "JG\0";
const size_t kMsf2MagicSize = 44;
static_assert(sizeof(kMsf7Magic) == kMsf7MagicSize, "the magic includes its zero padding");
static_assert(sizeof(kMsf2Magic) == kMsf2MagicSize, "the magic includes its zero padding");

// PDB 2.00 lists the directory's pages in the header page from this offset on.
const size_t kMsf2DirectoryPagesOffset = 60;
const uint32_t kNilStreamSize = 0xFFFFFFFF;
const size_t kInfoStream = 1;
const size_t kInfoStreamMaxPrefix = 28;
const size_t kDbiStream = 3;
const size_t kDbiHeaderPrefix = 12;
const uint32_t kDbiSignature = 0xFFFFFFFF;

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

// The pages of one file, which of them are taken, and the reading of a
// stream from them. Each check fails with a description of what is wrong.
class CPagedFile
{
public:
    CPagedFile(const CByteReader& file, size_t pageSize, uint32_t pageCount)
        : m_file(file), m_pageSize(pageSize), m_pageCount(pageCount)
    {
    }

    size_t PageSize() const { return m_pageSize; }
    const std::string& Error() const { return m_error; }

    // The header's page count must be the file's size in whole pages. Only
    // then is the map of taken pages made, so its size is the file's.
    bool CheckPageCount()
    {
        const size_t size = m_file.GetSize();
        if (size % m_pageSize == 0 && size / m_pageSize == m_pageCount)
        {
            m_taken.assign(m_pageCount, false);
            return true;
        }
        return Fail(ErrorText("the header claims %llu blocks of %llu bytes, but the file has %llu bytes", m_pageCount,
                              m_pageSize, size));
    }

    // Claims a page for what (a stream's number, or -1 for the directory).
    bool Take(uint32_t page, long what)
    {
        if (page == 0 || page >= m_taken.size())
            return Fail(Owner(what) +
                        ErrorText(" lists block %llu; the file has blocks 1 to %llu", page, m_pageCount - 1));
        if (m_taken[page])
            return Fail(ErrorText("block %llu belongs to two streams", page));
        m_taken[page] = true;
        return true;
    }

    bool TakeAll(const std::vector<uint32_t>& pages, long what)
    {
        for (uint32_t page : pages)
        {
            if (!Take(page, what))
                return false;
        }
        return true;
    }

    // The first size bytes of the stream made of pages (all of them taken).
    bool ReadStream(const std::vector<uint32_t>& pages, size_t size, std::vector<uint8_t>& out)
    {
        out.clear();
        if (size > m_file.GetSize() || pages.size() < PagesFor(static_cast<uint32_t>(size), m_pageSize))
            return Fail("a stream is larger than its blocks");
        out.reserve(size);
        for (size_t i = 0; out.size() < size; ++i)
        {
            size_t offset = 0;
            CByteReader reader;
            const size_t count = std::min(m_pageSize, size - out.size());
            if (!CByteReader::CheckedMultiply(pages[i], m_pageSize, offset) ||
                !m_file.GetSubReader(offset, count, reader) || !reader.AppendBytes(out, count))
                return Fail("a stream runs past the end of the file");
        }
        return true;
    }

    bool Fail(const std::string& error)
    {
        if (m_error.empty())
            m_error = error;
        return false;
    }

private:
    static std::string Owner(long what)
    {
        return what < 0 ? std::string("the stream directory")
                        : ErrorText("stream %llu", static_cast<unsigned long>(what));
    }

    const CByteReader& m_file;
    size_t m_pageSize;
    uint32_t m_pageCount;
    std::vector<bool> m_taken;
    std::string m_error;
};

// Where one stream lies: its byte size (kNilStreamSize when unused or
// absent) and its pages.
struct StreamPlace
{
    uint32_t size = kNilStreamSize;
    std::vector<uint32_t> pages;
};

// The stream directory after its stream count: the sizes (MSF 7.00: u32
// each; PDB 2.00: a u32 size and an unused u32 each), then every stream's
// page numbers (u32 or u16). Takes every page and says where the info and
// DBI streams lie.
bool ReadDirectory(CPagedFile& paged, CByteReader& directory, uint32_t streamCount, bool narrow, size_t fileSize,
                   StreamPlace& info, StreamPlace& dbi)
{
    const size_t entrySize = narrow ? 8 : 4;
    size_t tableSize = 0;
    if (!CByteReader::CheckedMultiply(streamCount, entrySize, tableSize) || tableSize > directory.GetRemaining())
        return paged.Fail(ErrorText("the stream directory claims %llu streams but has room for the sizes of %llu",
                                    streamCount, directory.GetRemaining() / entrySize));
    std::vector<uint32_t> sizes;
    sizes.reserve(streamCount);
    for (uint32_t i = 0; i < streamCount; ++i)
    {
        uint32_t size = 0;
        uint32_t unused = 0;
        if (!directory.ReadU32(size) || (narrow && !directory.ReadU32(unused)))
            return paged.Fail("the stream directory is cut short");
        if (size != kNilStreamSize && size > fileSize)
            return paged.Fail(
                ErrorText("stream %llu claims %llu bytes, more than the whole file (%llu bytes)", i, size, fileSize));
        sizes.push_back(size);
    }
    for (uint32_t i = 0; i < streamCount; ++i)
    {
        const size_t count = PagesFor(sizes[i], paged.PageSize());
        std::vector<uint32_t> pages;
        bool read = false;
        if (narrow)
        {
            std::vector<uint16_t> narrowPages;
            read = directory.ReadU16Array(narrowPages, count);
            pages.assign(narrowPages.begin(), narrowPages.end());
        }
        else
        {
            read = directory.ReadU32Array(pages, count);
        }
        if (!read)
            return paged.Fail(ErrorText("the stream directory ends inside the block list of stream %llu", i));
        if (!paged.TakeAll(pages, static_cast<long>(i)))
            return false;
        if (i == kInfoStream || i == kDbiStream)
        {
            StreamPlace& place = i == kInfoStream ? info : dbi;
            place.size = sizes[i];
            place.pages = pages;
        }
    }
    if (info.size == kNilStreamSize)
        return paged.Fail("there is no PDB info stream");
    return true;
}

// The start of the info stream and of the DBI stream (left empty when there
// is none): as much of each as the identity needs.
bool ReadIdentityStreams(CPagedFile& paged, const StreamPlace& info, const StreamPlace& dbi,
                         std::vector<uint8_t>& infoBytes, std::vector<uint8_t>& dbiBytes)
{
    dbiBytes.clear();
    return paged.ReadStream(info.pages, std::min<size_t>(info.size, kInfoStreamMaxPrefix), infoBytes) &&
           (dbi.size == kNilStreamSize ||
            paged.ReadStream(dbi.pages, std::min<size_t>(dbi.size, kDbiHeaderPrefix), dbiBytes));
}
} // namespace

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
    m_hasDbiAge = false;
    m_dbiAge = 0;
    m_hasGuid = false;
    m_guid.fill(0);
}

bool CPdbFile::Parse(const uint8_t* data, size_t size)
{
    Clear();
    m_error.clear();
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
    else
    {
        m_error = "no MSF 7.00 or PDB 2.00 signature";
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
    if (!file.ReadU32(pageSize) || !file.ReadU32(freePageMap) || !file.ReadU32(pageCount) ||
        !file.ReadU32(directorySize) || !file.ReadU32(unused) || !file.ReadU32(directoryListPage))
        return Fail("the header is cut short");
    if (!IsValidPageSize(pageSize))
        return Fail(ErrorText("block size %llu is not a power of two from 512 to 65536", pageSize));

    CPagedFile paged(file, pageSize, pageCount);
    // The directory's pages are listed in one page, so it has at most pageSize / 4 of them.
    const size_t directoryPageCount = PagesFor(directorySize, pageSize);
    if (directorySize == 0 || directorySize == kNilStreamSize || directoryPageCount > pageSize / 4)
        return Fail(ErrorText("the stream directory's size (%llu bytes) is impossible", directorySize));
    size_t listOffset = 0;
    std::vector<uint32_t> directoryPages;
    std::vector<uint8_t> directoryBytes;
    if (!paged.CheckPageCount() || !paged.Take(directoryListPage, -1) ||
        !CByteReader::CheckedMultiply(directoryListPage, pageSize, listOffset) || !file.Seek(listOffset) ||
        !file.ReadU32Array(directoryPages, directoryPageCount) || !paged.TakeAll(directoryPages, -1) ||
        !paged.ReadStream(directoryPages, directorySize, directoryBytes))
        return Fail(paged.Error().empty() ? std::string("the stream directory's block list is cut short")
                                          : paged.Error());

    CByteReader directory(directoryBytes.data(), directoryBytes.size());
    uint32_t streamCount = 0;
    StreamPlace info;
    StreamPlace dbi;
    if (!directory.ReadU32(streamCount) ||
        !ReadDirectory(paged, directory, streamCount, false, file.GetSize(), info, dbi))
        return Fail(paged.Error().empty() ? std::string("the stream directory is cut short") : paged.Error());
    std::vector<uint8_t> infoBytes;
    std::vector<uint8_t> dbiBytes;
    if (!ReadIdentityStreams(paged, info, dbi, infoBytes, dbiBytes))
        return Fail(paged.Error());
    return ReadIdentity(infoBytes, dbiBytes);
}

bool CPdbFile::ParseMsf2(CByteReader& file)
{
    uint32_t pageSize = 0;
    uint16_t freePageMap = 0;
    uint16_t pageCount = 0;
    uint32_t directorySize = 0;
    uint32_t unused = 0;
    if (!file.ReadU32(pageSize) || !file.ReadU16(freePageMap) || !file.ReadU16(pageCount) ||
        !file.ReadU32(directorySize) || !file.ReadU32(unused))
        return Fail("the header is cut short");
    if (!IsValidPageSize(pageSize))
        return Fail(ErrorText("page size %llu is not a power of two from 512 to 65536", pageSize));

    CPagedFile paged(file, pageSize, pageCount);
    // The directory's page numbers follow the header within page 0.
    const size_t directoryPageCount = PagesFor(directorySize, pageSize);
    if (directorySize == 0 || directorySize == kNilStreamSize ||
        directoryPageCount > (pageSize - kMsf2DirectoryPagesOffset) / 2)
        return Fail(ErrorText("the stream directory's size (%llu bytes) is impossible", directorySize));
    std::vector<uint16_t> narrowPages;
    if (!file.ReadU16Array(narrowPages, directoryPageCount))
        return Fail("the header is cut short");
    const std::vector<uint32_t> directoryPages(narrowPages.begin(), narrowPages.end());
    std::vector<uint8_t> directoryBytes;
    if (!paged.CheckPageCount() || !paged.TakeAll(directoryPages, -1) ||
        !paged.ReadStream(directoryPages, directorySize, directoryBytes))
        return Fail(paged.Error());

    CByteReader directory(directoryBytes.data(), directoryBytes.size());
    uint16_t streamCount = 0;
    uint16_t reserved = 0;
    StreamPlace info;
    StreamPlace dbi;
    if (!directory.ReadU16(streamCount) || !directory.ReadU16(reserved) ||
        !ReadDirectory(paged, directory, streamCount, true, file.GetSize(), info, dbi))
        return Fail(paged.Error().empty() ? std::string("the stream directory is cut short") : paged.Error());
    std::vector<uint8_t> infoBytes;
    std::vector<uint8_t> dbiBytes;
    if (!ReadIdentityStreams(paged, info, dbi, infoBytes, dbiBytes))
        return Fail(paged.Error());
    return ReadIdentity(infoBytes, dbiBytes);
}

bool CPdbFile::ReadIdentity(const std::vector<uint8_t>& info, const std::vector<uint8_t>& dbi)
{
    CByteReader reader(info.data(), info.size());
    if (!reader.ReadU32(m_version) || !reader.ReadU32(m_signature) || !reader.ReadU32(m_age))
        return Fail("the PDB info stream is too short");
    m_hasGuid = m_version >= kVersionVc70;
    if (m_hasGuid && !reader.ReadBytes(m_guid.data(), m_guid.size()))
        return Fail("the PDB info stream ends before its GUID");
    // A DBI stream too short for its header, or with a header of the format
    // before ages were recorded there, says nothing about the age: the info
    // stream's then stands.
    CByteReader header(dbi.data(), dbi.size());
    uint32_t signature = 0;
    uint32_t version = 0;
    uint32_t age = 0;
    if (header.ReadU32(signature) && header.ReadU32(version) && header.ReadU32(age) && signature == kDbiSignature)
    {
        m_hasDbiAge = true;
        m_dbiAge = age;
    }
    return true;
}

bool CPdbFile::Fail(const std::string& error)
{
    if (m_error.empty())
        m_error = error;
    return false;
}
