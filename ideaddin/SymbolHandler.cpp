#include "SymbolHandler.h"

#include <mutex>

#include "CallGuiThread.h"
#include "Trace.h"
#include "TraceScope.h"

CSymbolHandler::CSymbolHandler() : m_initialized(false)
{
    CTraceScope scope("CSymbolHandler::CSymbolHandler()\n", 0);
}

CSymbolHandler::~CSymbolHandler()
{
    CTraceScope scope("CSymbolHandler::~CSymbolHandler()\n", 0);
    Close();
}

bool CSymbolHandler::Init()
{
    CTraceScope scope("CSymbolHandler::Init()\n", 0);
    std::lock_guard<CCriticalSection> lock(m_lock);
    TraceMessage(TRACE_INFO, 0, "%s", "Instance locked.\n");
    if (m_initialized)
    {
        TraceMessage(TRACE_WARNING, 0, "%s", "Already initialized.\n");
        return true;
    }
    // Whether the worker managed to create its SymbolManager does not matter here.
    if (!m_symbolOperations.Start())
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Symbol Operations initialization failed.\n");
        return false;
    }
    m_initialized = true;
    TraceMessage(TRACE_INFO, 0, "%s", "Complete\n");
    return true;
}

void CSymbolHandler::Close()
{
    CTraceScope scope("CSymbolHandler::Close()\n", 0);
    std::lock_guard<CCriticalSection> lock(m_lock);
    TraceMessage(TRACE_INFO, 0, "%s", "Instance locked.\n");
    if (!m_initialized)
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Not yet initialized.\n");
        return;
    }
    m_symbolOperations.Stop();
    m_initialized = false;
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
}

void CSymbolHandler::TraceSettings() const
{
    TraceMessage(TRACE_INFO, 0, "Enabled: %s\n", BoolText(m_config.Enabled));
    TraceMessage(TRACE_INFO, 0, "ReportProgress: %s\n", BoolText(m_config.ReportProgress));
    TraceMessage(TRACE_INFO, 0, "SymPath: %s\n", m_config.SymPath.c_str());
    TraceMessage(TRACE_INFO, 0, "DestDir: %s\n", m_config.DestDir.c_str());
    TraceMessage(TRACE_INFO, 0, "UseFileExt: %s\n", BoolText(m_config.UseFileExt));
}

void CSymbolHandler::SetConfiguration(const SymbolHandlerConfiguration& config)
{
    CTraceScope scope("CSymbolHandler::SetConfiguration()\n", 0);
    std::lock_guard<CCriticalSection> lock(m_lock);
    TraceMessage(TRACE_INFO, 0, "%s", "Instance locked.\n");
    if (!m_initialized)
    {
        TraceMessage(TRACE_WARNING, 0, "%s", "Not yet initialized.\n");
        return;
    }
    m_config = config;
    TraceSettings();
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
}

bool CSymbolHandler::GetConfiguration(SymbolHandlerConfiguration& config)
{
    CTraceScope scope("CSymbolHandler::GetConfiguration()\n", 0);
    std::lock_guard<CCriticalSection> lock(m_lock);
    TraceMessage(TRACE_INFO, 0, "%s", "Instance locked.\n");
    if (!m_initialized)
    {
        TraceMessage(TRACE_WARNING, 0, "%s", "Not yet initialized.\n");
        return false;
    }
    config = m_config;
    TraceSettings();
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return true;
}

bool CSymbolHandler::SettingsInForce(SymbolHandlerConfiguration& config)
{
    // Requests run with the settings in force when they start, and without
    // the instance lock: a new configuration (the GUI thread) takes effect
    // for the next request instead of waiting for this one, and a Close
    // releases the caller instead of waiting for the server.
    std::lock_guard<CCriticalSection> lock(m_lock);
    TraceMessage(TRACE_INFO, 0, "%s", "Instance locked.\n");
    if (!m_initialized)
    {
        TraceMessage(TRACE_WARNING, 0, "%s", "Not yet initialized.\n");
        return false;
    }
    config = m_config;
    return true;
}

void CSymbolHandler::GetSymbols(HANDLE hFile)
{
    CTraceScope scope("CSymbolHandler::GetSymbols()\n", 0);
    // Handle values have 32 significant bits, in 64-bit processes too.
    const DWORD fileHandle = HandleToULong(hFile);
    TraceMessage(TRACE_INFO, 0, "hFile: %x\n", static_cast<unsigned>(fileHandle));
    SymbolHandlerConfiguration config;
    if (!SettingsInForce(config))
        return;
    if (!config.Enabled)
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Disabled.\n");
        return;
    }
    if (config.SymPath.empty())
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Symbol path is not specified.\n");
        return;
    }
    if (config.DestDir.empty())
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Destination path is not specified.\n");
        return;
    }
    TraceMessage(TRACE_INFO, 0, "ReportProgress: %s\n", BoolText(config.ReportProgress));
    TraceMessage(TRACE_INFO, 0, "%s", "Getting symbols...\n");

    // The debugger received the handle in this process, so the request names it.
    bool found = false;
    std::string log;
    if (!m_symbolOperations.GetSymbols(fileHandle, GetCurrentProcessId(), config.SymPath, config.DestDir,
                                       config.UseFileExt, found, log))
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "CSymbolOperations::GetSymbols() failed.\n");
        return;
    }
    TraceMessage(TRACE_INFO, 0, "Found: %s\n", BoolText(found));
    TraceMessage(TRACE_INFO, 0, "Log size: %u\n", static_cast<unsigned>(log.size()));
    if (!log.empty() && config.ReportProgress)
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Displaying the log...\n");
        CCallGuiThread::OutputString(log);
    }
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
}

void CSymbolHandler::Prefetch(HANDLE hFile)
{
    CTraceScope scope("CSymbolHandler::Prefetch()\n", 0);
    SymbolHandlerConfiguration config;
    if (!SettingsInForce(config))
        return;
    if (!config.Enabled || !config.Prefetch || config.SymPath.empty())
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Disabled.\n");
        return;
    }
    if (!m_symbolOperations.Prefetch(HandleToULong(hFile), GetCurrentProcessId(), config.SymPath, config.DestDir,
                                     config.UseFileExt, config.HistoryFile, config.PrefetchParallel))
        TraceMessage(TRACE_INFO, 0, "%s", "CSymbolOperations::Prefetch() failed.\n");
}
