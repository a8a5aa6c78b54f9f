#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CTempFile;

// Expands a symbol store's compressed entry (a cabinet holding one file)
// with the platform's cabinet library (FDI in cabinet.dll). The cabinet is
// checked whole first (CCabinetFile) and handed to the library from memory,
// so the library reads exactly the bytes that were checked; the one file
// inside goes into the caller's temporary file and nowhere else, whatever
// name the cabinet gives it.
class CCabinetExpander
{
public:
    // Writes the file named expectedName (compared without regard to case)
    // into output, which must be created and is closed on success. Refuses a
    // cabinet that is damaged, holds another file, or expands to more than
    // maxBytes. False with the reason in error (one phrase, no line end).
    static bool Expand(const uint8_t* cabinet, size_t size, const std::string& expectedName, uint64_t maxBytes,
                       CTempFile& output, std::string& error);
};
