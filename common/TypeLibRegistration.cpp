#include "TypeLibRegistration.h"

#include <oleauto.h>

#include <string>

#include "ScopedComPtr.h"

namespace
{

std::wstring ModulePathWide(HMODULE module)
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::wstring();
    return std::wstring(path, length);
}

} // namespace

HRESULT RegisterModuleTypeLib(HMODULE module)
{
    const std::wstring path = ModulePathWide(module);
    CScopedComPtr<ITypeLib> typeLib;
    const HRESULT result = LoadTypeLib(path.c_str(), typeLib.Receive());
    if (FAILED(result))
        return result;
    return RegisterTypeLib(typeLib.Get(), const_cast<LPOLESTR>(path.c_str()), nullptr);
}

HRESULT UnregisterModuleTypeLib(HMODULE module)
{
    // Found at run time: the oldest systems' oleaut32.dll lacks it.
    typedef HRESULT(WINAPI * UnRegisterTypeLibFunction)(REFGUID, WORD, WORD, LCID, SYSKIND);
    HMODULE oleaut = GetModuleHandleA("oleaut32.dll");
    UnRegisterTypeLibFunction unregister =
        oleaut != nullptr ? reinterpret_cast<UnRegisterTypeLibFunction>(
                                reinterpret_cast<void*>(GetProcAddress(oleaut, "UnRegisterTypeLib")))
                          : nullptr;
    if (unregister == nullptr)
        return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);

    const std::wstring path = ModulePathWide(module);
    CScopedComPtr<ITypeLib> typeLib;
    HRESULT result = LoadTypeLib(path.c_str(), typeLib.Receive());
    if (FAILED(result))
        return result;
    TLIBATTR* attributes = nullptr;
    result = typeLib->GetLibAttr(&attributes);
    if (FAILED(result))
        return result;
    result = unregister(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                        attributes->syskind);
    typeLib->ReleaseTLibAttr(attributes);
    return result;
}
