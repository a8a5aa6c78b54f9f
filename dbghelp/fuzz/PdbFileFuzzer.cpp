// libFuzzer target: any bytes given to CPdbFile must be refused or read safely.
#include <cstddef>
#include <cstdint>

#include "PdbFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CPdbFile pdb;
    pdb.Parse(data, size);
    return 0;
}
