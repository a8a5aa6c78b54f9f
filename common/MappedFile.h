#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "MappedView.h"
#include "ScopedHandle.h"

// A read-only view of a whole file, opened by name or through a handle the
// caller keeps. A mapping reads without moving the handle's file pointer,
// which the caller (a debugger's image handle) may be using. Files larger
// than the given bound, and empty files, are refused.
class CMappedFile
{
public:
    CMappedFile();
    ~CMappedFile();
    CMappedFile(const CMappedFile&) = delete;
    CMappedFile& operator=(const CMappedFile&) = delete;

    // False with the platform's error code (GetError) when the file cannot be
    // opened or mapped; ERROR_FILE_TOO_LARGE or ERROR_HANDLE_EOF for a size
    // outside the bound.
    bool OpenByName(const std::string& path, uint64_t maxSize);
    bool OpenByHandle(HANDLE file, uint64_t maxSize);
    void Close();

    const uint8_t* Data() const { return static_cast<const uint8_t*>(m_view.Get()); }
    size_t Size() const { return m_size; }
    DWORD GetError() const { return m_error; }

private:
    bool Map(HANDLE file, uint64_t maxSize);

    CScopedHandle m_file;
    CScopedHandle m_mapping;
    CMappedView m_view;
    size_t m_size;
    DWORD m_error;
};
