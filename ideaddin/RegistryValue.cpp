#include "RegistryValue.h"

#include "ScopedRegKey.h"

bool RegValueGet(HKEY hive, const std::string& key, const std::string& name, std::string& value,
                 const std::string& defaultText)
{
    CScopedRegKey opened;
    if (opened.Open(hive, key.c_str(), KEY_QUERY_VALUE) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    LONG result = RegQueryValueExA(opened.Get(), name.c_str(), nullptr, nullptr, nullptr, &size);
    if (result == ERROR_FILE_NOT_FOUND)
    {
        value = defaultText;
        return false;
    }
    if (result != ERROR_SUCCESS)
        return false;
    // The value may grow between the two queries: read until it fits.
    std::string buffer;
    for (int attempt = 0; attempt < 8; ++attempt)
    {
        if (size == 0)
        {
            value.clear();
            return true;
        }
        buffer.assign(size + 1, '\0');
        DWORD type = 0;
        DWORD read = size;
        result =
            RegQueryValueExA(opened.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&buffer[0]), &read);
        if (result == ERROR_MORE_DATA)
        {
            size = read;
            continue;
        }
        if (result != ERROR_SUCCESS)
            return false;
        buffer.resize(read);
        // A stored string may or may not carry its terminator.
        const size_t end = buffer.find('\0');
        value = end == std::string::npos ? buffer : buffer.substr(0, end);
        return true;
    }
    return false;
}

bool RegValueSet(HKEY hive, const std::string& key, const std::string& name, const std::string& value)
{
    CScopedRegKey created;
    if (created.Create(hive, key.c_str(), KEY_SET_VALUE) != ERROR_SUCCESS)
        return false;
    return RegSetValueExA(created.Get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}
