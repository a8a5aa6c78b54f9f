// libFuzzer target: any bytes given to CPointerFile must be refused or read
// safely, and what it accepts is one line without control characters.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "PointerFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CPointerFile pointer;
    const bool parsed = pointer.Parse(data, size);
    if (parsed != (pointer.GetKind() != CPointerFile::Invalid) || parsed != pointer.GetError().empty())
        abort();
    if (pointer.GetKind() == CPointerFile::Path && pointer.GetText().empty())
        abort();
    for (unsigned char c : pointer.GetText())
    {
        if ((c < 0x20 && c != '\t') || c == 0x7F)
            abort();
    }
    return 0;
}
