#include "Registrar.h"

#include <cstring>
#include <new>

#include "RegistryScriptWriter.h"

namespace
{

// Resource bytes as script text: UTF-16 with its byte-order mark becomes ANSI.
bool ResourceText(const BYTE* data, DWORD size, std::string& text)
{
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE)
    {
        std::wstring wide;
        for (DWORD pos = 2; pos + 1 < size; pos += 2)
        {
            const wchar_t c = static_cast<wchar_t>(data[pos] | (data[pos + 1] << 8));
            if (c == L'\0')
                break;
            wide += c;
        }
        if (wide.empty())
            return true;
        const int length =
            WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
        if (length <= 0)
            return false;
        text.assign(static_cast<size_t>(length), '\0');
        return WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &text[0], length, nullptr,
                                   nullptr) == length;
    }
    DWORD pos = 0;
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF)
        pos = 3;
    const BYTE* begin = data + pos;
    const void* nul = std::memchr(begin, 0, size - pos);
    const size_t length = nul != nullptr ? static_cast<size_t>(static_cast<const BYTE*>(nul) - begin) : size - pos;
    text.assign(reinterpret_cast<const char*>(begin), length);
    return true;
}

} // namespace

void CRegistrar::AddReplacement(const std::string& name, const std::string& value)
{
    try
    {
        m_replacements[CRegistryScript::UpperCase(name)] = value;
    }
    catch (const std::bad_alloc&)
    {
        m_replacementLost = true;
    }
}

HRESULT CRegistrar::Apply(const std::string& script, bool doRegister)
{
    try
    {
        m_errorText.clear();
        return ApplyText(script, doRegister);
    }
    catch (const std::bad_alloc&)
    {
        m_errorText.clear();
        return E_OUTOFMEMORY;
    }
}

HRESULT CRegistrar::ApplyResource(HMODULE module, UINT resourceId, bool doRegister)
{
    try
    {
        m_errorText.clear();
        HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(resourceId), "REGISTRY");
        HGLOBAL loaded = resource != nullptr ? LoadResource(module, resource) : nullptr;
        const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
        if (data == nullptr)
        {
            const DWORD error = GetLastError();
            m_errorText = "REGISTRY resource " + std::to_string(resourceId) + " not loaded";
            return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
        }
        std::string script;
        if (!ResourceText(static_cast<const BYTE*>(data), SizeofResource(module, resource), script))
        {
            m_errorText = "REGISTRY resource " + std::to_string(resourceId) + " is not convertible text";
            return DISP_E_EXCEPTION;
        }
        return ApplyText(script, doRegister);
    }
    catch (const std::bad_alloc&)
    {
        m_errorText.clear();
        return E_OUTOFMEMORY;
    }
}

HRESULT CRegistrar::ApplyText(const std::string& script, bool doRegister)
{
    if (m_replacementLost)
        return E_OUTOFMEMORY;

    CRegistryScript parsed;
    if (!parsed.Parse(script, m_replacements, m_errorText))
        return DISP_E_EXCEPTION;

    CRegistryScriptWriter writer;
    const LONG result = doRegister ? writer.Register(parsed) : writer.Unregister(parsed);
    if (result == ERROR_SUCCESS)
        return S_OK;
    m_errorText = "registry error " + std::to_string(result) + " at " + writer.FailedAt();
    return HRESULT_FROM_WIN32(result);
}
