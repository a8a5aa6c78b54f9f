#pragma once
#include <windows.h>
#include <dbghelp.h>

#include <string>
#include <vector>

#include "CriticalSection.h"

// Finds, checks and copies the symbol files of one image per request through
// the symbol library's single context of this process. Requests from any
// thread run one at a time under the engine's lock. Each request's log holds
// the user-visible "QUILLM: " lines and the library's own diagnostic lines in
// the order in which they occurred.
class CSymbolEngine
{
public:
    CSymbolEngine();
    ~CSymbolEngine();
    CSymbolEngine(const CSymbolEngine&) = delete;
    CSymbolEngine& operator=(const CSymbolEngine&) = delete;

    bool Init();
    void Close();

    // By file name. True unless a parameter is missing, the engine is not
    // initialised or the library refused a search path; Found tells whether
    // usable symbols are (now) available for the debugger.
    bool GetSymbols(const std::string& FileName, const std::string& SymPath, const std::string& DestPath,
                    bool UseFileExt, bool& Found, std::vector<std::string>& LogLines);
    // By a file handle valid in process ProcessId; the image's name is derived
    // from the handle.
    bool GetSymbols(DWORD FileHandle, DWORD ProcessId, const std::string& SymPath, const std::string& DestPath,
                    bool UseFileExt, bool& Found, std::vector<std::string>& LogLines);

    // The library's process-wide option mask.
    DWORD GetSymOptions();
    void SetSymOptions(DWORD Options);
    void AddSymOptions(DWORD Options);

    // Appends one diagnostic message of the library to the current log; called
    // on the thread that holds the lock, from within a library call.
    void OnEngineNotify(const std::string& Message);

private:
    // Traces that the lock is held; false (traced) when Init has not succeeded.
    bool IsReady();
    // Copies the request's log to the caller.
    void HandOverLog(std::vector<std::string>& LogLines);
    // The look in the destination and, when it finds nothing usable, the load
    // through the symbol path; false when either phase failed as an operation.
    bool RunRequest(HANDLE FileHandle, const std::string& FileName, const std::string& SymPath,
                    const std::string& DestPath, bool UseFileExt, bool& Found);
    bool CheckSymbols(HANDLE FileHandle, const std::string& FileName, const std::string& TestPath, bool& Found);
    bool DownloadSymbols(HANDLE FileHandle, const std::string& FileName, const std::string& SymPath,
                         const std::string& DestPath, bool UseFileExt, bool& Found);
    // Shared by both phases: set the path, load, check; copy when asked to.
    bool LoadAndCheck(HANDLE FileHandle, const std::string& FileName, const std::string& SearchPath, bool Copy,
                      const std::string& DestPath, bool UseFileExt, bool& Found);
    bool CheckSymbolFormat(DWORD64 ModBase);
    void CopySymbols(DWORD64 ModBase, const std::string& ExeName, const std::string& DestPath, bool UseFileExt,
                     bool& Found);
    bool CopySymbolFile(const std::string& ExeName, const std::string& FileName, const std::string& DestPath,
                        bool UseFileExt);
    bool QueryModule(DWORD64 ModBase, IMAGEHLP_MODULE64& Module);
    void Append(const char* Line);

    CCriticalSection m_lock;
    bool m_initialized;
    HANDLE m_process;
    std::vector<std::string> LogMessages;
};

// The notification function registered with the symbol library: passes each
// diagnostic text (CBA_DEBUG_INFO) to the engine whose address is the context.
BOOL CALLBACK DebugInfoCallback(HANDLE hProcess, ULONG ActionCode, ULONG64 CallbackData, ULONG64 UserContext);
