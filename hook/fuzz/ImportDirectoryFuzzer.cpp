// libFuzzer target: any bytes given to CImportDirectory as a mapped image must
// be refused or walked without touching memory outside the buffer, and a
// slot it finds must lie inside the image.
#include <cstddef>
#include <cstdint>

#include "ImportDirectory.h"

namespace
{

void CheckSlot(const CImportDirectory& imports, uint32_t descriptor, size_t size)
{
    for (const char* function : {"LoadLibraryA", "WaitForDebugEvent", "getversion"})
    {
        uint32_t slot = 0;
        if (imports.FindSlot(descriptor, function, slot) && slot != 0 && size_t(slot) + imports.GetThunkSize() > size)
            __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CImportDirectory imports;
    if (!imports.Open(data, size))
        return 0;
    for (const char* dll : {"KERNEL32.DLL", "user32.dll"})
    {
        uint32_t descriptor = 0;
        if (imports.FindDescriptor(dll, descriptor) && descriptor != 0)
            CheckSlot(imports, descriptor, size);
    }
    // A descriptor anywhere: the bytes at 0x38 (DOS header padding) say where.
    if (size >= 0x3C)
        CheckSlot(imports, data[0x38] | (data[0x39] << 8) | (uint32_t(data[0x3A]) << 16), size);
    return 0;
}
