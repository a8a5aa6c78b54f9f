#include "CabinetExpander.h"

#include <windows.h>

#include <fcntl.h>
#include <fdi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "CabinetFile.h"
#include "PathSplit.h"
#include "TempFile.h"

namespace
{
// The name under which the library is given the cabinet; it reaches only our
// own open callback.
char kCabinetName[] = "entry.cab";
char kCabinetPath[] = "";

struct Expansion;

// What the library holds as a file handle: the cabinet in memory (read
// only), or the output file (write only).
struct FdiHandle
{
    Expansion* owner = nullptr;
    bool output = false;
    size_t position = 0;
};

struct Expansion
{
    const uint8_t* cabinet = nullptr;
    size_t size = 0;
    std::string expectedName;
    uint64_t expectedBytes = 0;
    uint64_t maxBytes = 0;
    CTempFile* output = nullptr;
    uint64_t written = 0;
    bool started = false;
    bool finished = false;
    std::string error;
    std::vector<std::unique_ptr<FdiHandle>> handles;

    FdiHandle* NewHandle(bool isOutput)
    {
        handles.emplace_back(new FdiHandle);
        handles.back()->owner = this;
        handles.back()->output = isOutput;
        return handles.back().get();
    }
    void Fail(const std::string& text)
    {
        if (error.empty())
            error = text;
    }
};

// The open callback is the only one that gets no context of its own: it
// finds the expansion that this thread is running.
thread_local Expansion* t_expansion = nullptr;

FdiHandle* FromInt(INT_PTR handle)
{
    return reinterpret_cast<FdiHandle*>(handle);
}

INT_PTR ToInt(FdiHandle* handle)
{
    return reinterpret_cast<INT_PTR>(handle);
}

void* DIAMONDAPI FdiAlloc(ULONG size)
{
    return malloc(size);
}

void DIAMONDAPI FdiFree(void* block)
{
    free(block);
}

INT_PTR DIAMONDAPI FdiOpen(char* name, int flags, int)
{
    Expansion* expansion = t_expansion;
    // Only the cabinet itself, and only for reading.
    if (expansion == nullptr || name == nullptr || strcmp(name, kCabinetName) != 0 ||
        (flags & (_O_WRONLY | _O_RDWR | _O_CREAT | _O_TRUNC | _O_APPEND)) != 0)
        return -1;
    return ToInt(expansion->NewHandle(false));
}

UINT DIAMONDAPI FdiRead(INT_PTR handle, void* buffer, UINT count)
{
    FdiHandle* file = FromInt(handle);
    if (file == nullptr || file->output)
        return static_cast<UINT>(-1);
    const Expansion& owner = *file->owner;
    const size_t left = file->position < owner.size ? owner.size - file->position : 0;
    const size_t take = count < left ? count : left;
    memcpy(buffer, owner.cabinet + file->position, take);
    file->position += take;
    return static_cast<UINT>(take);
}

UINT DIAMONDAPI FdiWrite(INT_PTR handle, void* buffer, UINT count)
{
    FdiHandle* file = FromInt(handle);
    if (file == nullptr || !file->output)
        return static_cast<UINT>(-1);
    Expansion& owner = *file->owner;
    if (owner.written + count > owner.expectedBytes || owner.written + count > owner.maxBytes)
    {
        owner.Fail("the cabinet expands to more bytes than it claims");
        return static_cast<UINT>(-1);
    }
    if (!owner.output->Write(buffer, count))
    {
        char text[64];
        snprintf(text, sizeof(text), "writing the expanded file failed (error %lu)",
                 static_cast<unsigned long>(owner.output->GetError()));
        owner.Fail(text);
        return static_cast<UINT>(-1);
    }
    owner.written += count;
    return count;
}

int DIAMONDAPI FdiClose(INT_PTR handle)
{
    return FromInt(handle) != nullptr ? 0 : -1;
}

LONG DIAMONDAPI FdiSeek(INT_PTR handle, LONG distance, int origin)
{
    FdiHandle* file = FromInt(handle);
    if (file == nullptr || file->output)
        return -1;
    long long base = 0;
    switch (origin)
    {
    case SEEK_SET:
        break;
    case SEEK_CUR:
        base = static_cast<long long>(file->position);
        break;
    case SEEK_END:
        base = static_cast<long long>(file->owner->size);
        break;
    default:
        return -1;
    }
    const long long target = base + distance;
    if (target < 0 || target > static_cast<long long>(file->owner->size))
        return -1;
    file->position = static_cast<size_t>(target);
    return static_cast<LONG>(target);
}

INT_PTR DIAMONDAPI FdiNotify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION info)
{
    Expansion& expansion = *static_cast<Expansion*>(info->pv);
    switch (type)
    {
    case fdintCABINET_INFO:
    case fdintENUMERATE:
        return 0;
    case fdintCOPY_FILE:
        if (expansion.started)
        {
            expansion.Fail("the cabinet holds more than one file");
            return -1;
        }
        if (info->psz1 == nullptr || !EqualNoCase(info->psz1, expansion.expectedName))
        {
            expansion.Fail("the cabinet holds another file");
            return -1;
        }
        if (info->cb < 0 || static_cast<uint64_t>(info->cb) != expansion.expectedBytes)
        {
            expansion.Fail("the cabinet library sees another file size than the cabinet claims");
            return -1;
        }
        expansion.started = true;
        return ToInt(expansion.NewHandle(true));
    case fdintCLOSE_FILE_INFO:
        expansion.finished = true;
        return TRUE;
    case fdintPARTIAL_FILE:
    case fdintNEXT_CABINET:
    default:
        expansion.Fail("the cabinet continues in another cabinet");
        return -1;
    }
}

std::string LibraryError(const ERF& error)
{
    switch (error.erfOper)
    {
    case FDIERROR_NOT_A_CABINET:
        return "the cabinet library does not take it for a cabinet";
    case FDIERROR_UNKNOWN_CABINET_VERSION:
        return "the cabinet library does not know its version";
    case FDIERROR_ALLOC_FAIL:
        return "the cabinet library ran out of memory";
    case FDIERROR_BAD_COMPR_TYPE:
        return "the cabinet library does not know its compression";
    case FDIERROR_CORRUPT_CABINET:
    case FDIERROR_MDI_FAIL:
    {
        // The headers were checked before: what the library finds damaged is the data.
        char text[80];
        snprintf(text, sizeof(text), "its compressed data does not expand (FDI error %d)", error.erfOper);
        return text;
    }
    default:
        break;
    }
    char text[64];
    snprintf(text, sizeof(text), "the cabinet library failed (FDI error %d)", error.erfOper);
    return text;
}

// Owns an FDI context.
class CFdiContext
{
public:
    explicit CFdiContext(ERF& error)
        : m_context(FDICreate(FdiAlloc, FdiFree, FdiOpen, FdiRead, FdiWrite, FdiClose, FdiSeek, cpuUNKNOWN, &error))
    {
    }
    ~CFdiContext()
    {
        if (m_context != nullptr)
            FDIDestroy(m_context);
    }
    CFdiContext(const CFdiContext&) = delete;
    CFdiContext& operator=(const CFdiContext&) = delete;

    HFDI Get() const { return m_context; }

private:
    HFDI m_context;
};

// Sets this thread's running expansion for the open callback, and clears it.
class CCurrentExpansion
{
public:
    explicit CCurrentExpansion(Expansion& expansion) { t_expansion = &expansion; }
    ~CCurrentExpansion() { t_expansion = nullptr; }
    CCurrentExpansion(const CCurrentExpansion&) = delete;
    CCurrentExpansion& operator=(const CCurrentExpansion&) = delete;
};
} // namespace

bool CCabinetExpander::Expand(const uint8_t* cabinet, size_t size, const std::string& expectedName, uint64_t maxBytes,
                              CTempFile& output, std::string& error)
{
    CCabinetFile checked;
    if (!checked.Parse(cabinet, size))
    {
        error = "damaged cabinet: " + checked.GetError();
        return false;
    }
    if (!EqualNoCase(checked.GetFileName(), expectedName))
    {
        error = "the cabinet holds " + checked.GetFileName() + ", not " + expectedName;
        return false;
    }
    if (checked.GetFileSize() > maxBytes)
    {
        char text[128];
        snprintf(text, sizeof(text), "the cabinet expands to %lu bytes, more than MaxFileBytes (%llu)",
                 static_cast<unsigned long>(checked.GetFileSize()), static_cast<unsigned long long>(maxBytes));
        error = text;
        return false;
    }

    Expansion expansion;
    expansion.cabinet = cabinet;
    expansion.size = size;
    expansion.expectedName = expectedName;
    expansion.expectedBytes = checked.GetFileSize();
    expansion.maxBytes = maxBytes;
    expansion.output = &output;

    ERF library = {};
    CFdiContext context(library);
    if (context.Get() == nullptr)
    {
        error = "the cabinet library cannot start: " + LibraryError(library);
        return false;
    }
    BOOL copied = FALSE;
    {
        CCurrentExpansion current(expansion);
        copied = FDICopy(context.Get(), kCabinetName, kCabinetPath, 0, FdiNotify, nullptr, &expansion);
    }
    if (!expansion.error.empty())
    {
        error = expansion.error;
        return false;
    }
    if (!copied)
    {
        error = LibraryError(library);
        return false;
    }
    if (!expansion.started || !expansion.finished || expansion.written != expansion.expectedBytes)
    {
        error = "the cabinet library expanded less than the cabinet claims";
        return false;
    }
    if (!output.Close())
    {
        error = "the expanded file cannot be written";
        return false;
    }
    return true;
}
