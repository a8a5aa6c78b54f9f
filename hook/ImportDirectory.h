#pragma once

#include <cstddef>
#include <cstdint>

#include "ByteReader.h"

// The import directory of a PE32 or PE32+ image as the system loader maps it:
// every address in the headers is an RVA, an offset from the image's base.
// Plain code over a byte buffer without platform calls, so that it serves both
// the patching of loaded modules and native fuzzing. Every read is bounded by
// the readable bytes given to Open and by the image's own SizeOfImage; a walk
// that would leave the image fails instead.
class CImportDirectory
{
public:
    CImportDirectory();

    // Reads the headers of the image at [image, image + size). False when it
    // is no PE32/PE32+ image (signatures, optional header magic) or its
    // headers do not fit in size and in its own SizeOfImage.
    bool Open(const uint8_t* image, size_t size);

    // Width of the import name and address table entries: 4 (PE32) or 8 (PE32+).
    size_t GetThunkSize() const { return m_thunkSize; }

    // The RVA of the first import descriptor whose DLL name equals dllName,
    // ASCII letter case ignored; 0 when the image imports nothing from it.
    // False when the descriptor array or a name the comparison needs runs
    // out of the image.
    bool FindDescriptor(const char* dllName, uint32_t& descriptorRva) const;

    // The RVA of the import address table slot of the first import by name of
    // functionName (ASCII letter case ignored) through the descriptor at
    // descriptorRva; 0 when that descriptor does not import it by name.
    // Imports by ordinal and empty names are passed over. False when the
    // descriptor has no import name table (RVA 0), when a table, a hint/name
    // entry or a name the comparison needs runs out of the image, or when the
    // address table is not aligned to its entry width.
    bool FindSlot(uint32_t descriptorRva, const char* functionName, uint32_t& slotRva) const;

private:
    // Compares the zero-terminated name at rva with name. False when the image
    // ends before the comparison is decided.
    bool MatchName(uint32_t rva, const char* name, bool& equal) const;
    bool ReadThunk(size_t offset, uint64_t& value) const;

    CByteReader m_image;
    size_t m_thunkSize;
    uint32_t m_importRva;
};
