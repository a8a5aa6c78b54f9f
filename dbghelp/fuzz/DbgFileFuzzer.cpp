// libFuzzer target: any bytes given to CDbgFile must be refused or read safely.
#include <cstddef>
#include <cstdint>

#include "DbgFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CDbgFile dbg;
    if (dbg.Parse(data, size))
    {
        volatile size_t sink = dbg.GetCodeView().GetPdbName().size();
        (void)sink;
    }
    return 0;
}
