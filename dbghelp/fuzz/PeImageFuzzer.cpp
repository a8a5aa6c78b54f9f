// libFuzzer target: any bytes given to CPeImage must be refused or read
// without touching memory outside the buffer.
#include <cstddef>
#include <cstdint>
#include <string>

#include "PeImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CPeImage image;
    if (image.Parse(data, size))
    {
        // Touch what a caller would use, so that a bad string shows up here.
        volatile size_t sink = image.GetMiscDbgName().size() + image.GetCodeView().GetPdbName().size();
        for (const std::string& name : image.GetImportNames())
            sink = sink + name.size();
        (void)sink;
    }
    return 0;
}
