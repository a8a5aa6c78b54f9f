#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "MappedView.h"
#include "ScopedHandle.h"

// An image file that the debugger was handed an open handle to, mapped for
// reading, with the path the system knows it by (a drive-letter path where
// one matches the mapped file's device path).
class CImageFile
{
public:
    CImageFile() = default;
    CImageFile(const CImageFile&) = delete;
    CImageFile& operator=(const CImageFile&) = delete;

    // Maps the file behind the handle, which stays the caller's; false for
    // an empty file or one that cannot be mapped or named.
    bool Open(HANDLE file);

    const uint8_t* Data() const { return static_cast<const uint8_t*>(m_view.Get()); }
    size_t Size() const { return m_size; }
    const std::string& Path() const { return m_path; }

private:
    CScopedHandle m_mapping;
    CMappedView m_view;
    size_t m_size = 0;
    std::string m_path;
};
