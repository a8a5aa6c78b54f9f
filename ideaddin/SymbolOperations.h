#pragma once
#include <windows.h>

#include <string>

#include "ScopedComPtr.h"
#include "SymbolManager.h"
#include "WorkerThread.h"

// The command ids: get symbols, with a GetSymbolsCommand; prefetch, with a PrefetchCommand.
constexpr DWORD CMD_GET_SYMBOLS = 1;
constexpr DWORD CMD_PREFETCH = 2;

// A command handed to the worker thread: its id and its parameter record.
struct CommandInfo
{
    DWORD CommandId = 0;
    void* pCommand = nullptr;
};

// Parameters and results of one get-symbols request.
struct GetSymbolsCommand
{
    // Handle value of the image file, valid in process ProcessId.
    DWORD hFile = 0;
    DWORD ProcessId = 0;
    std::string SymbolPath;
    std::string DestPath;
    // Copies go into a sub-directory named by the image's extension.
    bool UseFileExt = true;
    // Results: symbols found, the server's log, and whether the server answered S_OK.
    bool bFound = false;
    std::string Log;
    bool Success = false;
};

// Parameters and result of one prefetch request (ISymbolPrefetch::Prefetch).
struct PrefetchCommand
{
    DWORD hFile = 0;
    DWORD ProcessId = 0;
    std::string SymbolPath;
    std::string DestPath;
    bool UseFileExt = true;
    std::string HistoryFile;
    DWORD MaxParallel = 0;
    bool Success = false;
};

// The add-in's client of the symbol manager (qx3fetch). Its worker thread
// joins the multithreaded apartment and holds the one SymbolManager object;
// every request from any other thread is carried to that thread and made
// there, and the caller waits for the answer. When the server has gone away
// (ended, crashed, killed), the dead object is released, a new one is created
// on the worker thread and the request is made once more.
class CSymbolOperations : public CWorkerThread
{
public:
    CSymbolOperations();
    // Stops the thread, should the owner not have done so.
    ~CSymbolOperations() override;

    // True when the server answered; bFound and Log are then its answer.
    bool GetSymbols(DWORD hFile, DWORD ProcessId, const std::string& SymbolPath, const std::string& DestPath,
                    bool UseFileExt, bool& bFound, std::string& Log);
    // Starts the server's prefetch of the program whose image hFile is; the
    // server queues the work and answers at once. True when it accepted.
    bool Prefetch(DWORD hFile, DWORD ProcessId, const std::string& SymbolPath, const std::string& DestPath,
                  bool UseFileExt, const std::string& HistoryFile, DWORD MaxParallel);

protected:
    bool OnStart() override;
    void OnStop() override;
    void OnCommand(void* pCmd) override;

private:
    bool CreateSymbolManager();
    void RunGetSymbols(GetSymbolsCommand& command);
    HRESULT CallGetSymbols(const GetSymbolsCommand& command, BOOL& found, std::string& log);
    void RunPrefetch(PrefetchCommand& command);

    bool m_comInitialized;
    CScopedComPtr<ISymbolManager> m_symbolManager;
    // Set once the server has been found gone (by a call or by a creation):
    // from then on a command that finds no object creates one first.
    bool m_recreate;
};
