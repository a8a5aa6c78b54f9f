// libFuzzer target: any bytes given to CCabinetFile must be refused or read
// safely, and what it accepts must be a consistent single-file cabinet.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "CabinetFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CCabinetFile cabinet;
    if (cabinet.Parse(data, size))
    {
        // What the expander relies on.
        if (cabinet.GetFileName().empty() || cabinet.GetFileName().size() > 255 || !cabinet.GetError().empty() ||
            static_cast<uint64_t>(cabinet.GetBlockCount()) * CCabinetFile::kMaxBlockBytes < cabinet.GetFileSize())
            abort();
    }
    else if (cabinet.GetError().empty() || !cabinet.GetFileName().empty())
    {
        abort();
    }
    return 0;
}
