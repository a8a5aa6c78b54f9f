#include "ImageFile.h"

#include <psapi.h>

namespace
{

// "\??\C:\dir\file" (Wine) or "\Device\HarddiskVolume1\dir\file" (Windows)
// in the drive-letter form.
std::string DosPath(const std::string& mapped)
{
    for (const char* prefix : {"\\??\\", "\\\\?\\", "\\GLOBAL??\\"})
    {
        const std::string text = prefix;
        if (mapped.compare(0, text.size(), text) == 0)
            return mapped.substr(text.size());
    }
    char drive[3] = "A:";
    for (char letter = 'A'; letter <= 'Z'; ++letter)
    {
        drive[0] = letter;
        char device[MAX_PATH] = {};
        if (!QueryDosDeviceA(drive, device, MAX_PATH))
            continue;
        const std::string name = device;
        if (mapped.size() > name.size() && mapped.compare(0, name.size(), name) == 0 && mapped[name.size()] == '\\')
            return std::string(drive) + mapped.substr(name.size());
    }
    return mapped;
}

} // namespace

bool CImageFile::Open(HANDLE file)
{
    if (file == nullptr || file == INVALID_HANDLE_VALUE)
        return false;
    DWORD high = 0;
    const DWORD size = GetFileSize(file, &high);
    if (size == INVALID_FILE_SIZE || size == 0 || high != 0)
        return false;
    m_mapping.Reset(CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!m_mapping.IsValid())
        return false;
    m_view.Reset(MapViewOfFile(m_mapping.Get(), FILE_MAP_READ, 0, 0, 0));
    if (!m_view.IsValid())
        return false;
    m_size = size;
    char mapped[MAX_PATH * 2] = {};
    if (!GetMappedFileNameA(GetCurrentProcess(), m_view.Get(), mapped, sizeof(mapped)))
        return false;
    m_path = DosPath(mapped);
    return true;
}
