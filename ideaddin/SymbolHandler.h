#pragma once
#include <windows.h>

#include <string>

#include "CriticalSection.h"
#include "SymbolOperations.h"

// The symbol settings in force for requests.
struct SymbolHandlerConfiguration
{
    bool Enabled = true;
    bool ReportProgress = true;
    std::string SymPath;
    std::string DestDir;
    bool UseFileExt = true;
    // Prefetch a new program's symbol files, at most PrefetchParallel at
    // once (0: the server's default); what each program's session loaded is
    // kept in HistoryFile.
    bool Prefetch = true;
    unsigned PrefetchParallel = 0;
    std::string HistoryFile;
};

// Turns the file handle of a new image of the debuggee into a symbol request,
// made through the symbol operations worker under the settings in force, and
// passes the server's log on to the GUI thread when progress is reported.
// GetSymbols runs on the debugger thread and holds the instance lock only to
// take the settings in force: a configuration change applies from the next
// request on, and Close releases a waiting request instead of waiting for it.
class CSymbolHandler
{
public:
    CSymbolHandler();
    ~CSymbolHandler();
    CSymbolHandler(const CSymbolHandler&) = delete;
    CSymbolHandler& operator=(const CSymbolHandler&) = delete;

    bool Init();
    // Releases a request in flight at once and stops the worker, waiting for
    // its thread a bounded time (CWorkerThread::Stop).
    void Close();
    // Whether the worker's thread still runs (also one left busy by Close).
    bool IsWorkerAlive() { return m_symbolOperations.IsThreadAlive(); }
    // Ignored before Init.
    void SetConfiguration(const SymbolHandlerConfiguration& config);
    bool GetConfiguration(SymbolHandlerConfiguration& config);
    // hFile: an image file handle valid in this process. Waits, without a
    // time limit, until the request is done or the handler is closed.
    void GetSymbols(HANDLE hFile);
    // hFile: the new program's image file handle, valid in this process.
    // Hands the program to the server's prefetch, which answers at once; a
    // server without it is left alone.
    void Prefetch(HANDLE hFile);

private:
    void TraceSettings() const;
    // Copies the settings in force under the instance lock; false (traced)
    // when the handler is not initialised.
    bool SettingsInForce(SymbolHandlerConfiguration& config);

    bool m_initialized;
    CCriticalSection m_lock;
    CSymbolOperations m_symbolOperations;
    SymbolHandlerConfiguration m_config;
};
