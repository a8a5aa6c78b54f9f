#include "ImportDirectory.h"

// IMAGE_IMPORT_DESCRIPTOR: OriginalFirstThunk, TimeDateStamp, ForwarderChain,
// Name (RVA of the DLL's name), FirstThunk; five 32-bit fields.

bool CImportDirectory::Parse(uint32_t rva, const Locate& locate)
{
    m_names.clear();
    for (size_t index = 0; index < kMaxNames; ++index)
    {
        // Each descriptor is located on its own: a table may cross from one
        // section into the next.
        const uint64_t descriptorRva = uint64_t(rva) + uint64_t(index) * kDescriptorSize;
        CByteReader descriptor;
        uint32_t fields[5] = {};
        if (descriptorRva > UINT32_MAX || !locate(uint32_t(descriptorRva), descriptor))
            return false;
        for (uint32_t& field : fields)
        {
            if (!descriptor.ReadU32(field))
                return false;
        }
        if (fields[0] == 0 && fields[1] == 0 && fields[2] == 0 && fields[3] == 0 && fields[4] == 0)
            return true;

        CByteReader nameBytes;
        std::string name;
        if (fields[3] == 0 || !locate(fields[3], nameBytes) || !nameBytes.ReadCString(name, kMaxNameLength) ||
            name.empty())
            return false;
        m_names.push_back(name);
    }
    return false;
}
