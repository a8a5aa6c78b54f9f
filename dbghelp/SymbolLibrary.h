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
// callback, settings from symsrv.ini and loaded modules. Several threads may
// call. The lock guards that state only: a load or a file search takes what
// it needs under it and then searches and downloads without it, so that one
// thread's download never holds up another's load or search (the same file
// from the same store is still fetched once: the session's single-flight).
// A session ended meanwhile stays alive until its last such call returns.
// The callback runs on the calling thread, without the lock (it may call
// back in), one call at a time per session, and never after SymCleanup of
// its session has returned. Failures set the last error; no operation throws.
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
    // What one load or search takes from its session under the lock, to run without it.
    struct Use;

    CSymbolLibrary();
    ~CSymbolLibrary();

    std::shared_ptr<Session> FindSession(HANDLE process);
    // Under the lock: the session of process with its settings refreshed, and
    // a snapshot of them; searchPath null takes the session's path. False
    // (last error set) for an unknown process.
    bool BeginUse(HANDLE process, PCSTR searchPath, Use& use);
    // Reads symsrv.ini's settings into the session, and again whenever the
    // file has changed since: the add-in rewrites its exclusion list while
    // a session runs, and the user expects the new list to count at once.
    void ReadSettings(Session& session);
    void RefreshSettings(Session& session);
    void Notify(const Use& use, const std::string& line);
    // The search settings of a use of a session, along path.
    CSymbolSearch::Settings SearchSettings(const Use& use, const CSymbolPath& path);
    std::string DefaultSearchPath() const;
    std::string BesideLibrary(const char* name) const;

    CCriticalSection m_lock;
    DWORD m_options;
    HMODULE m_module;
    std::map<HANDLE, std::shared_ptr<Session>> m_sessions;
};
