#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ByteReader.h"

// The names of the DLLs that an image imports statically: the import
// directory is an array of 20-byte IMAGE_IMPORT_DESCRIPTORs ended by an
// all-zero one, each naming one DLL through the RVA of its name at offset 12.
// The layout is the same in PE32 and PE32+ (only the thunks differ in width,
// and they are not read). Reading stops at the ending descriptor, at the first
// descriptor or name that lies outside the file, or at kMaxNames: what was
// read until then is kept.
class CImportDirectory
{
public:
    // A reader over the file from the byte at rva to the file's end; false
    // when rva lies in no section's raw data (nor in the headers).
    using Locate = std::function<bool(uint32_t rva, CByteReader& rest)>;

    static constexpr size_t kDescriptorSize = 20;
    // More names than any real image imports; a table beyond it is damaged.
    static constexpr size_t kMaxNames = 4096;
    // A DLL name is a file name: at most MAX_PATH - 1 characters.
    static constexpr size_t kMaxNameLength = 259;

    // Reads the table at rva. True when it ended with its all-zero descriptor.
    bool Parse(uint32_t rva, const Locate& locate);

    // The names in table order, as stored (duplicates kept).
    const std::vector<std::string>& GetNames() const { return m_names; }

private:
    std::vector<std::string> m_names;
};
