#include "AnsiText.h"

#include <windows.h>

#include <vector>

std::string WideToAnsi(const wchar_t* text)
{
    if (text == nullptr)
        return std::string();
    // Asking for the size first keeps double-byte code pages safe, whatever
    // the number of bytes per character.
    const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return std::string();
    std::vector<char> buffer(static_cast<size_t>(size));
    if (WideCharToMultiByte(CP_ACP, 0, text, -1, buffer.data(), size, nullptr, nullptr) <= 0)
        return std::string();
    return std::string(buffer.data());
}

std::wstring AnsiToWide(const std::string& text)
{
    const int size = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (size <= 0)
        return std::wstring();
    std::vector<wchar_t> buffer(static_cast<size_t>(size));
    if (MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, buffer.data(), size) <= 0)
        return std::wstring();
    return std::wstring(buffer.data());
}
