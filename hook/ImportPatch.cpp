#include "ImportPatch.h"

#include <cstdint>

#include "ImportDirectory.h"

namespace
{

// Lowest address of the upper half that Windows 9x shares between processes.
constexpr ULONG_PTR kSharedArenaStart = 0x80000000u;

constexpr DWORD kReadableProtections = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                                       PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
constexpr DWORD kWritableProtections = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE |
                                       PAGE_EXECUTE_WRITECOPY;
constexpr DWORD kExecutableProtections = PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE |
                                         PAGE_EXECUTE_WRITECOPY;

bool IsReadable(const MEMORY_BASIC_INFORMATION& region)
{
    return region.State == MEM_COMMIT && (region.Protect & PAGE_GUARD) == 0 &&
           (region.Protect & kReadableProtections) != 0;
}

// How many bytes from start on can be read without a fault: the committed,
// readable, unguarded regions of start's allocation that follow one another.
// Asks the memory manager instead of touching the memory (IsBadReadPtr takes
// a guard page's one-shot fault, and crashes Wine on one).
size_t GetReadableExtent(const void* start)
{
    MEMORY_BASIC_INFORMATION region;
    const uint8_t* next = static_cast<const uint8_t*>(start);
    void* allocation = nullptr;
    size_t extent = 0;
    while (VirtualQuery(next, &region, sizeof(region)) == sizeof(region) && IsReadable(region))
    {
        if (extent == 0)
            allocation = region.AllocationBase;
        else if (region.AllocationBase != allocation)
            break;
        const uint8_t* end = static_cast<const uint8_t*>(region.BaseAddress) + region.RegionSize;
        if (end <= next)
            break;
        extent += static_cast<size_t>(end - next);
        next = end;
    }
    return extent;
}

// The import directory of a module mapped in this process, read within the
// bytes that are mapped readable and within the image's own size.
bool OpenImports(HMODULE moduleBase, CImportDirectory& imports)
{
    const uint8_t* base = reinterpret_cast<const uint8_t*>(moduleBase);
    return imports.Open(base, GetReadableExtent(base));
}

} // namespace

BOOL PatchImportByName(HMODULE moduleBase, const char* dllName, const char* functionName, void* replacement,
                       void** savedAddress, ImportSlot** slotAddress)
{
    if (moduleBase == nullptr || dllName == nullptr || functionName == nullptr || replacement == nullptr ||
        savedAddress == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!IsWindowsNT() && reinterpret_cast<ULONG_PTR>(moduleBase) >= kSharedArenaStart)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }

    IMAGE_IMPORT_DESCRIPTOR* descriptor = nullptr;
    if (!FindImportDescriptor(moduleBase, dllName, &descriptor))
        return FALSE;

    uint32_t slotRva = 0;
    if (descriptor != nullptr)
    {
        CImportDirectory imports;
        const uint8_t* base = reinterpret_cast<const uint8_t*>(moduleBase);
        const uint32_t descriptorRva = static_cast<uint32_t>(reinterpret_cast<const uint8_t*>(descriptor) - base);
        // Only a slot of this process's pointer width can hold the replacement.
        if (!OpenImports(moduleBase, imports) || imports.GetThunkSize() != sizeof(ImportSlot) ||
            !imports.FindSlot(descriptorRva, functionName, slotRva))
        {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
    }
    if (slotRva == 0)
    {
        *savedAddress = nullptr;
        if (slotAddress != nullptr)
            *slotAddress = nullptr;
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }

    ImportSlot* slot = reinterpret_cast<ImportSlot*>(reinterpret_cast<uint8_t*>(moduleBase) + slotRva);
    *savedAddress = *static_cast<ImportSlot volatile*>(slot);
    if (!WriteImportSlot(slot, replacement))
        return FALSE;
    if (slotAddress != nullptr)
        *slotAddress = slot;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL FindImportDescriptor(HMODULE moduleBase, const char* dllName, IMAGE_IMPORT_DESCRIPTOR** descriptor)
{
    if (descriptor != nullptr)
        *descriptor = nullptr;
    CImportDirectory imports;
    uint32_t descriptorRva = 0;
    if (moduleBase == nullptr || dllName == nullptr || descriptor == nullptr || !OpenImports(moduleBase, imports) ||
        !imports.FindDescriptor(dllName, descriptorRva))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (descriptorRva != 0)
        *descriptor = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(reinterpret_cast<uint8_t*>(moduleBase) + descriptorRva);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WriteImportSlot(ImportSlot* slot, void* value)
{
    MEMORY_BASIC_INFORMATION page;
    if (slot == nullptr || reinterpret_cast<ULONG_PTR>(slot) % sizeof(ImportSlot) != 0)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (VirtualQuery(slot, &page, sizeof(page)) != sizeof(page))
        return FALSE;
    if ((page.Protect & PAGE_GUARD) == 0 && (page.Protect & kWritableProtections) != 0)
    {
        InterlockedExchangePointer(slot, value);
        return TRUE;
    }

    // Only the slot's own page changes, and it keeps its execute right: the
    // import table may share a page with code that another thread runs now.
    const DWORD writable = (page.Protect & kExecutableProtections) ? PAGE_EXECUTE_READWRITE : PAGE_READWRITE;
    DWORD oldProtection = 0;
    if (!VirtualProtect(slot, sizeof(ImportSlot), writable, &oldProtection))
        return FALSE;
    InterlockedExchangePointer(slot, value);
    DWORD unused = 0;
    return VirtualProtect(slot, sizeof(ImportSlot), oldProtection, &unused);
}

BOOL IsWindowsNT()
{
    static_assert(sizeof(OSVERSIONINFOA) == 148, "GetVersionExA expects the 148-byte record");
    // -1: not asked yet (or the question failed), else the cached answer.
    static volatile LONG cached = -1;
    const LONG known = cached;
    if (known >= 0)
        return known;

    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExA(&version))
        return FALSE;
    const LONG isNt = version.dwPlatformId == VER_PLATFORM_WIN32_NT ? TRUE : FALSE;
    InterlockedExchange(&cached, isNt);
    return isNt;
}
