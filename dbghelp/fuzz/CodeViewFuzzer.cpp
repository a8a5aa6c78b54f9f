// libFuzzer target: any bytes given to CCodeViewRecord, and the store key
// made from what it reads, must be refused or handled safely.
#include <cstddef>
#include <cstdint>

#include "CodeViewRecord.h"
#include "SymbolStoreKey.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CCodeViewRecord cv;
    if (cv.Parse(data, size))
    {
        const std::string key = cv.GetKind() == CCodeViewRecord::Rsds
                                    ? CSymbolStoreKey::ForGuid(cv.GetGuid(), cv.GetAge())
                                    : CSymbolStoreKey::ForSignature(cv.GetSignature(), cv.GetAge());
        volatile size_t sink = key.size() + cv.GetPdbName().size();
        (void)sink;
    }
    return 0;
}
