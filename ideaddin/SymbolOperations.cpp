#include "SymbolOperations.h"

#include <objbase.h>

#include <memory>
#include <vector>

#include "AnsiText.h"
#include "Trace.h"
#include "TraceScope.h"

namespace
{

// A command and its CommandInfo, shared with the worker thread, which
// finishes the command even when its caller is released early by a Stop.
template <typename Command>
struct SharedCommand
{
    Command command;
    CommandInfo info;
};

template <typename Command>
std::shared_ptr<SharedCommand<Command>> MakeSharedCommand(DWORD commandId)
{
    auto shared = std::make_shared<SharedCommand<Command>>();
    shared->info.CommandId = commandId;
    shared->info.pCommand = &shared->command;
    return shared;
}

void TraceRequest(const GetSymbolsCommand& command)
{
    TraceMessage(TRACE_INFO, 0, "hFile: %x\n", static_cast<unsigned>(command.hFile));
    TraceMessage(TRACE_INFO, 0, "ProcessId: %x\n", static_cast<unsigned>(command.ProcessId));
    TraceMessage(TRACE_INFO, 0, "SymbolPath: %s\n", command.SymbolPath.c_str());
    TraceMessage(TRACE_INFO, 0, "DestPath: %s\n", command.DestPath.c_str());
    TraceMessage(TRACE_INFO, 0, "UseFileExt: %s\n", BoolText(command.UseFileExt));
}

// Results that say the server process is no longer there: its object cannot
// answer again, while a new one (in a new server) can.
bool IsServerGone(HRESULT result)
{
    switch (result)
    {
    case RPC_E_DISCONNECTED:
    case RPC_E_SERVER_DIED:
    case RPC_E_SERVER_DIED_DNE:
    case RPC_E_CONNECTION_TERMINATED:
    case CO_E_OBJNOTCONNECTED:
    case CO_E_SERVER_STOPPING:
    case HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE):
    case HRESULT_FROM_WIN32(RPC_S_COMM_FAILURE):
        return true;
    default:
        return false;
    }
}

} // namespace

CSymbolOperations::CSymbolOperations() : m_comInitialized(false), m_recreate(false)
{
    CTraceScope scope("CSymbolOperations::CSymbolOperations()\n", 0);
}

CSymbolOperations::~CSymbolOperations()
{
    CTraceScope scope("CSymbolOperations::~CSymbolOperations()\n", 0);
    // OnStop must release COM on the worker thread while this object is whole.
    Stop();
}

bool CSymbolOperations::GetSymbols(DWORD hFile, DWORD ProcessId, const std::string& SymbolPath,
                                   const std::string& DestPath, bool UseFileExt, bool& bFound, std::string& Log)
{
    CTraceScope scope("CSymbolOperations::GetSymbols()\n", 0);
    bFound = false;
    Log.clear();
    const auto request = MakeSharedCommand<GetSymbolsCommand>(CMD_GET_SYMBOLS);
    GetSymbolsCommand& command = request->command;
    command.hFile = hFile;
    command.ProcessId = ProcessId;
    command.SymbolPath = SymbolPath;
    command.DestPath = DestPath;
    command.UseFileExt = UseFileExt;
    TraceRequest(command);

    TraceMessage(TRACE_INFO, 0, "%s", "Calling ExecuteCommand()...\n");
    if (!ExecuteCommand(std::shared_ptr<void>(request, &request->info)))
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "ExecuteCommand() failed.\n");
        return false;
    }
    if (!command.Success)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Command failed.\n");
        return false;
    }
    bFound = command.bFound;
    Log = command.Log;
    TraceMessage(TRACE_INFO, 0, "bFound: %s\n", BoolText(bFound));
    TraceMessage(TRACE_INFO, 0, "Log size: %u\n", static_cast<unsigned>(Log.size()));
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return true;
}

bool CSymbolOperations::OnStart()
{
    CTraceScope scope("CSymbolOperations::OnStart()\n", 0);
    TraceMessage(TRACE_INFO, 0, "%s", "Calling CoInitialize()...\n");
    const HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (result != S_OK)
    {
        // S_FALSE too: the apartment was not this object's to join.
        if (SUCCEEDED(result))
            CoUninitialize();
        TraceMessage(TRACE_ERROR, 0, "CoInitializeEx() failed. Error: %x\n", static_cast<unsigned>(result));
        return false;
    }
    m_comInitialized = true;
    if (!CreateSymbolManager())
        return false;
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return true;
}

bool CSymbolOperations::CreateSymbolManager()
{
    TraceMessage(TRACE_INFO, 0, "%s", "Instantiating SymbolManager...\n");
    HRESULT result =
        CoCreateInstance(CLSID_SymbolManager, nullptr, CLSCTX_ALL, IID_ISymbolManager, m_symbolManager.ReceiveVoid());
    // An activation that meets qx3fetch in its idle exit, its class object
    // withdrawn but the process not yet gone, is refused at once with one of
    // these; the next activation starts a new server.
    if (result == E_FAIL || result == REGDB_E_CLASSNOTREG)
    {
        TraceMessage(TRACE_WARNING, 0, "CoCreateInstance() failed. Error: %x\n", static_cast<unsigned>(result));
        m_symbolManager.Reset();
        result = CoCreateInstance(CLSID_SymbolManager, nullptr, CLSCTX_ALL, IID_ISymbolManager,
                                  m_symbolManager.ReceiveVoid());
    }
    if (result != S_OK)
    {
        m_symbolManager.Reset();
        TraceMessage(TRACE_ERROR, 0, "CoCreateInstance() failed. Error: %x\n", static_cast<unsigned>(result));
        // A server caught as it ended: the next command asks again.
        if (IsServerGone(result))
            m_recreate = true;
        return false;
    }
    return true;
}

void CSymbolOperations::OnStop()
{
    CTraceScope scope("CSymbolOperations::OnStop()\n", 0);
    if (m_symbolManager)
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Releasing SymbolManager...\n");
        m_symbolManager.Reset();
    }
    if (m_comInitialized)
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Calling CoUninitialize()...\n");
        CoUninitialize();
        m_comInitialized = false;
    }
    m_recreate = false;
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
}

void CSymbolOperations::OnCommand(void* pCmd)
{
    CTraceScope scope("CSymbolOperations::OnCommand()\n", 0);
    const CommandInfo* info = static_cast<const CommandInfo*>(pCmd);
    if (info == nullptr)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Command info pointer is null.\n");
        return;
    }
    if (info->pCommand == nullptr)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Command pointer is null.\n");
        return;
    }
    if (!m_comInitialized)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "COM is not initialized.\n");
        return;
    }
    if (!m_symbolManager && !(m_recreate && CreateSymbolManager()))
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "SymbolManager is not initialized.\n");
        return;
    }
    TraceMessage(TRACE_INFO, 0, "CommandId: %u\n", static_cast<unsigned>(info->CommandId));
    if (info->CommandId == CMD_GET_SYMBOLS)
        RunGetSymbols(*static_cast<GetSymbolsCommand*>(info->pCommand));
    else if (info->CommandId == CMD_PREFETCH)
        RunPrefetch(*static_cast<PrefetchCommand*>(info->pCommand));
    else
        TraceMessage(TRACE_WARNING, 0, "%s", "Unknown command.\n");
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
}

void CSymbolOperations::RunGetSymbols(GetSymbolsCommand& command)
{
    TraceRequest(command);

    BOOL found = 0;
    std::string log;
    HRESULT result = CallGetSymbols(command, found, log);
    if (IsServerGone(result))
    {
        // The object lived in a server that is gone: only a new server can
        // answer this request and the ones after it.
        TraceMessage(TRACE_WARNING, 0, "SymbolManager server is gone. Error: %x\n", static_cast<unsigned>(result));
        m_symbolManager.Reset();
        m_recreate = true;
        if (CreateSymbolManager())
            result = CallGetSymbols(command, found, log);
    }
    if (result != S_OK)
    {
        TraceMessage(TRACE_INFO, 0, "ISymbolManager::GetSymbols() failed. Error: %x\n", static_cast<unsigned>(result));
        command.Success = false;
        return;
    }
    command.bFound = found != 0;
    command.Log = log;
    command.Success = true;
}

HRESULT CSymbolOperations::CallGetSymbols(const GetSymbolsCommand& command, BOOL& found, std::string& log)
{
    std::wstring symbolPath = AnsiToWide(command.SymbolPath);
    std::wstring destPath = AnsiToWide(command.DestPath);
    wchar_t noFileName[1] = {L'\0'};
    // Set before the call: the proxy leaves out-parameters alone when the call fails.
    found = 0;
    LPWSTR serverLog = nullptr;
    const HRESULT result = m_symbolManager->GetSymbols(command.hFile, command.ProcessId, noFileName, &symbolPath[0],
                                                       &destPath[0], command.UseFileExt ? 1 : 0, &found, &serverLog);
    if (result != S_OK)
        return result;
    TraceMessage(TRACE_INFO, 0, "Found: %s\n", found ? "TRUE" : "FALSE");
    TraceMessage(TRACE_INFO, 0, "pLog: %p\n", static_cast<void*>(serverLog));
    log.clear();
    if (serverLog != nullptr)
    {
        log = WideToAnsi(serverLog);
        CoTaskMemFree(serverLog);
    }
    return S_OK;
}

bool CSymbolOperations::Prefetch(DWORD hFile, DWORD ProcessId, const std::string& SymbolPath,
                                 const std::string& DestPath, bool UseFileExt, const std::string& HistoryFile,
                                 DWORD MaxParallel)
{
    CTraceScope scope("CSymbolOperations::Prefetch()\n", 0);
    const auto request = MakeSharedCommand<PrefetchCommand>(CMD_PREFETCH);
    PrefetchCommand& command = request->command;
    command.hFile = hFile;
    command.ProcessId = ProcessId;
    command.SymbolPath = SymbolPath;
    command.DestPath = DestPath;
    command.UseFileExt = UseFileExt;
    command.HistoryFile = HistoryFile;
    command.MaxParallel = MaxParallel;
    // The hand-over waits only for the server's acceptance, never for a fetch.
    if (!ExecuteCommand(std::shared_ptr<void>(request, &request->info)))
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "ExecuteCommand() failed.\n");
        return false;
    }
    return command.Success;
}

void CSymbolOperations::RunPrefetch(PrefetchCommand& command)
{
    // A server of an earlier version has no such interface: nothing is prefetched.
    CScopedComPtr<ISymbolPrefetch> prefetch;
    HRESULT result = m_symbolManager->QueryInterface(IID_ISymbolPrefetch, prefetch.ReceiveVoid());
    if (result != S_OK)
    {
        TraceMessage(TRACE_INFO, 0, "QueryInterface(ISymbolPrefetch) failed. Error: %x\n",
                     static_cast<unsigned>(result));
        if (IsServerGone(result))
        {
            m_symbolManager.Reset();
            m_recreate = true;
        }
        return;
    }
    std::wstring symbolPath = AnsiToWide(command.SymbolPath);
    std::wstring destPath = AnsiToWide(command.DestPath);
    std::wstring historyFile = AnsiToWide(command.HistoryFile);
    result = prefetch->Prefetch(command.hFile, command.ProcessId, nullptr, &symbolPath[0], &destPath[0],
                                command.UseFileExt ? 1 : 0, &historyFile[0], command.MaxParallel);
    if (result != S_OK)
        TraceMessage(TRACE_INFO, 0, "ISymbolPrefetch::Prefetch() failed. Error: %x\n", static_cast<unsigned>(result));
    command.Success = result == S_OK;
}
