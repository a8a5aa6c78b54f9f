#pragma once
#include <windows.h>
#include <dbghelp.h>

#include <map>
#include <memory>
#include <string>

#include "CriticalSection.h"
#include "ExclusionList.h"
#include "SymbolSearch.h"

class CHttpClient;

// The library's one global state: the option mask and, per process handle
// given to SymInitialize, a session with its search path, notification
// callback, settings from symsrv.ini and loaded modules. Every operation
// takes the lock for its whole run, so that several threads may call; the
// callback runs on the calling thread with the lock held, and may call back
// in. Failures set the last error; no operation throws.
class CSymbolLibrary
{
public:
    static CSymbolLibrary& Instance();

    // The library's own module: symsrv.ini and the default store lie beside it.
    void SetModule(HMODULE module);

    BOOL Initialize(HANDLE process, PCSTR searchPath, BOOL invadeProcess);
    BOOL Cleanup(HANDLE process);
    DWORD GetOptions();
    DWORD SetOptions(DWORD options);
    BOOL RegisterCallback(HANDLE process, PSYMBOL_REGISTERED_CALLBACK64 callback, ULONG64 userContext);
    BOOL SetSearchPath(HANDLE process, PCSTR searchPath);
    DWORD64 LoadModule(HANDLE process, HANDLE file, PCSTR imageName, PCSTR moduleName, DWORD64 base, DWORD size);
    BOOL GetModuleInfo(HANDLE process, DWORD64 address, PIMAGEHLP_MODULE64 info);
    BOOL UnloadModule(HANDLE process, DWORD64 base);
    // SymFindFileInPath: request's file along searchPath (the session's path
    // when null), fetched from a store into its downstream store; found is
    // its full path. Nothing of it reaches the session's callback.
    BOOL FindFileInPath(HANDLE process, PCSTR searchPath, const CSymbolSearch::Request& request, std::string& found);

    CSymbolLibrary(const CSymbolLibrary&) = delete;
    CSymbolLibrary& operator=(const CSymbolLibrary&) = delete;

private:
    struct Session;

    CSymbolLibrary();
    ~CSymbolLibrary();

    Session* FindSession(HANDLE process);
    // Reads symsrv.ini's settings into the session, and again whenever the
    // file has changed since: the add-in rewrites its exclusion list while
    // a session runs, and the user expects the new list to count at once.
    void ReadSettings(Session& session);
    void RefreshSettings(Session& session);
    void Notify(Session& session, const std::string& line);
    // The search settings of the session, along path.
    CSymbolSearch::Settings SearchSettings(Session& session, const CSymbolPath& path);
    std::string DefaultSearchPath() const;
    std::string BesideLibrary(const char* name) const;

    CCriticalSection m_lock;
    DWORD m_options;
    HMODULE m_module;
    std::map<HANDLE, std::unique_ptr<Session>> m_sessions;
};
