// The exported operations of dbghelp.dll, with the platform's names, calling
// convention and structures (checked against <dbghelp.h>'s prototypes). Each
// passes to the one CSymbolLibrary and keeps every exception inside the DLL.
#include <windows.h>
// The header declares these functions for importers; here they are defined.
#pragma GCC diagnostic ignored "-Wattributes"
#include <dbghelp.h>

#include <cstring>
#include <new>
#include <string>

#include "FilePath.h"
#include "SymbolFileFinder.h"
#include "SymbolLibrary.h"

namespace
{
template <typename Result, typename Call>
Result Guarded(Result failure, Call call)
{
    try
    {
        return call();
    }
    catch (const std::bad_alloc&)
    {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    catch (...)
    {
        SetLastError(ERROR_INTERNAL_ERROR);
    }
    return failure;
}
} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
    {
        DisableThreadLibraryCalls(instance);
        CSymbolLibrary::Instance().SetModule(instance);
    }
    return TRUE;
}

BOOL WINAPI SymInitialize(HANDLE hProcess, PCSTR UserSearchPath, BOOL fInvadeProcess)
{
    return Guarded<BOOL>(FALSE, [&]
                         { return CSymbolLibrary::Instance().Initialize(hProcess, UserSearchPath, fInvadeProcess); });
}

BOOL WINAPI SymCleanup(HANDLE hProcess)
{
    return Guarded<BOOL>(FALSE, [&] { return CSymbolLibrary::Instance().Cleanup(hProcess); });
}

DWORD WINAPI SymGetOptions(VOID)
{
    return Guarded<DWORD>(0, [&] { return CSymbolLibrary::Instance().GetOptions(); });
}

DWORD WINAPI SymSetOptions(DWORD SymOptions)
{
    return Guarded<DWORD>(0, [&] { return CSymbolLibrary::Instance().SetOptions(SymOptions); });
}

BOOL WINAPI SymRegisterCallback64(HANDLE hProcess, PSYMBOL_REGISTERED_CALLBACK64 CallbackFunction, ULONG64 UserContext)
{
    return Guarded<BOOL>(
        FALSE, [&] { return CSymbolLibrary::Instance().RegisterCallback(hProcess, CallbackFunction, UserContext); });
}

BOOL WINAPI SymSetSearchPath(HANDLE hProcess, PCSTR SearchPath)
{
    return Guarded<BOOL>(FALSE, [&] { return CSymbolLibrary::Instance().SetSearchPath(hProcess, SearchPath); });
}

DWORD64 WINAPI SymLoadModule64(HANDLE hProcess, HANDLE hFile, PCSTR ImageName, PCSTR ModuleName, DWORD64 BaseOfDll,
                               DWORD SizeOfDll)
{
    return Guarded<DWORD64>(0,
                            [&] {
                                return CSymbolLibrary::Instance().LoadModule(hProcess, hFile, ImageName, ModuleName,
                                                                             BaseOfDll, SizeOfDll);
                            });
}

BOOL WINAPI SymGetModuleInfo64(HANDLE hProcess, DWORD64 qwAddr, PIMAGEHLP_MODULE64 ModuleInfo)
{
    return Guarded<BOOL>(FALSE, [&] { return CSymbolLibrary::Instance().GetModuleInfo(hProcess, qwAddr, ModuleInfo); });
}

BOOL WINAPI SymUnloadModule64(HANDLE hProcess, DWORD64 BaseOfDll)
{
    return Guarded<BOOL>(FALSE, [&] { return CSymbolLibrary::Instance().UnloadModule(hProcess, BaseOfDll); });
}

BOOL WINAPI SymFindFileInPath(HANDLE hprocess, PCSTR SearchPath, PCSTR FileName, PVOID id, DWORD two, DWORD three,
                              DWORD flags, LPSTR FoundFile, PFINDFILEINPATHCALLBACK callback, PVOID context)
{
    (void)three;
    return Guarded<BOOL>(FALSE,
                         [&]() -> BOOL
                         {
                             CSymbolSearch::Request request;
                             if (FoundFile == nullptr ||
                                 !CSymbolFileFinder::MakeRequest(FileName, id, two, flags, callback, context, request))
                             {
                                 SetLastError(ERROR_INVALID_PARAMETER);
                                 return FALSE;
                             }
                             std::string found;
                             if (!CSymbolLibrary::Instance().FindFileInPath(hprocess, SearchPath, request, found))
                                 return FALSE;
                             // FoundFile holds MAX_PATH characters, as the platform documents.
                             if (found.size() >= MAX_PATH)
                             {
                                 SetLastError(ERROR_INSUFFICIENT_BUFFER);
                                 return FALSE;
                             }
                             memcpy(FoundFile, found.c_str(), found.size() + 1);
                             return TRUE;
                         });
}

BOOL WINAPI MakeSureDirectoryPathExists(PCSTR DirPath)
{
    return Guarded<BOOL>(FALSE,
                         [&]() -> BOOL
                         {
                             if (DirPath == nullptr || *DirPath == '\0')
                             {
                                 SetLastError(ERROR_INVALID_PARAMETER);
                                 return FALSE;
                             }
                             DWORD error = 0;
                             if (!CFilePath::EnsureDirectory(DirPath, error))
                             {
                                 SetLastError(error);
                                 return FALSE;
                             }
                             SetLastError(ERROR_SUCCESS);
                             return TRUE;
                         });
}
