#include "AppEngine.h"

#include <mutex>

#include "AddInModule.h"
#include "ConfigLocation.h"
#include "ErrorReport.h"
#include "IniFile.h"
#include "PathSplit.h"
#include "Trace.h"
#include "TraceScope.h"

namespace
{

const char kSettings[] = "Settings";
const char kStatus[] = "Status";
const char kExclusions[] = "Exclusions";

// symsrv.ini, the symbol server library's own settings, beside the add-in.
CIniFile SymSrvIniFile()
{
    return CIniFile("symsrv.ini", true, GetAddInModule());
}

CIniFile WritableIniFile()
{
    std::string name;
    GetIniFileName(name, false);
    return CIniFile(name.c_str());
}

bool IsExistingFile(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

} // namespace

CAppEngine& CAppEngine::GetInstance()
{
    static CAppEngine engine;
    return engine;
}

CAppEngine::CAppEngine() : m_initialized(false)
{
    CTraceScope scope("CAppEngine::CAppEngine()\n", 0);
}

CAppEngine::~CAppEngine()
{
    CTraceScope scope("CAppEngine::~CAppEngine()\n", 0);
}

bool CAppEngine::Init()
{
    CTraceScope scope("CAppEngine::Init()\n", 0);
    std::lock_guard<CCriticalSection> lock(m_lock);
    TraceMessage(TRACE_INFO, 0, "%s", "Instance locked.\n");
    if (m_initialized)
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Already initialized.\n");
        return true;
    }
    ReadConfiguration();
    if (!m_symbolHandler.Init())
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Symbol Handler initialization failed.\n");
        return false;
    }
    ConfigureSymbolHandler();
    TraceMessage(TRACE_INFO, 0, "%s", "Installing hooks...\n");
    // A failed start leaves no worker thread behind: the module may be
    // unloaded next, and its unloading must not meet a thread of its own.
    if (!m_hookLoader.Init())
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "CHookLoader::Init() failed.\n");
        m_symbolHandler.Close();
        return false;
    }
    if (!m_hookLoader.SetHookHandler(kHookIdWaitForDebugEvent, &WFDOHandler))
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "CHookLoader::SetHookHandler() failed.\n");
        m_symbolHandler.Close();
        return false;
    }
    m_initialized = true;
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return true;
}

void CAppEngine::Close()
{
    CTraceScope scope("CAppEngine::Close()\n", 0);
    std::lock_guard<CCriticalSection> lock(m_lock);
    TraceMessage(TRACE_INFO, 0, "%s", "Instance locked.\n");
    if (!m_initialized)
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Not yet initialized.\n");
        return;
    }
    // The symbol handler first: closing it releases a request in flight, so
    // the debugger thread's handler call returns at once instead of after a
    // whole download, and no request starts after it. Then the handler goes
    // from the hook library, whose SetHook waits for a handler call still
    // running, 5000 ms at most. With the worker's own bound of 5000 ms the
    // disconnection waits 10 s at the very most, and only for threads that
    // are not in a symbol request.
    m_symbolHandler.Close();
    m_hookLoader.SetHookHandler(kHookIdWaitForDebugEvent, nullptr);
    m_initialized = false;
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
}

bool CAppEngine::IsWorkerAlive()
{
    return m_symbolHandler.IsWorkerAlive();
}

void TraceAppConfiguration(const AppConfiguration& config)
{
    TraceMessage(TRACE_INFO, 0, "Enabled: %s\n", BoolText(config.Enabled));
    TraceMessage(TRACE_INFO, 0, "ReportProgress: %s\n", BoolText(config.ReportProgress));
    TraceMessage(TRACE_INFO, 0, "UseNtSymPath: %s\n", BoolText(config.UseNtSymPath));
    TraceMessage(TRACE_INFO, 0, "SymPath: %s\n", config.SymPath.c_str());
    TraceMessage(TRACE_INFO, 0, "DestDir: %s\n", config.DestDir.c_str());
    TraceMessage(TRACE_INFO, 0, "Prefetch: %s\n", BoolText(config.Prefetch));
    TraceMessage(TRACE_INFO, 0, "PrefetchParallel: %u\n", config.PrefetchParallel);
    for (const std::string& entry : config.ExclusionList)
        TraceMessage(TRACE_INFO, 0, "Exclusion: %s\n", entry.c_str());
}

bool CAppEngine::GetConfiguration(AppConfiguration& config)
{
    CTraceScope scope("CAppEngine::GetConfiguration()\n", 0);
    std::lock_guard<CCriticalSection> lock(m_lock);
    TraceMessage(TRACE_INFO, 0, "%s", "Instance locked.\n");
    if (!m_initialized)
    {
        TraceMessage(TRACE_WARNING, 0, "%s", "Not yet initialized.\n");
        return false;
    }
    config = m_config;
    TraceAppConfiguration(m_config);
    return true;
}

void CAppEngine::SetConfiguration(const AppConfiguration& config)
{
    CTraceScope scope("CAppEngine::SetConfiguration()\n", 0);
    std::lock_guard<CCriticalSection> lock(m_lock);
    TraceMessage(TRACE_INFO, 0, "%s", "Instance locked.\n");
    if (!m_initialized)
    {
        TraceMessage(TRACE_WARNING, 0, "%s", "Not yet initialized.\n");
        return;
    }
    m_config = config;
    TraceAppConfiguration(m_config);
    SaveConfiguration();
    ConfigureSymbolHandler();
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
}

bool CAppEngine::ReadConfiguration()
{
    CTraceScope scope("CAppEngine::ReadConfiguration()\n", 0);
    std::string fileName;
    GetIniFileName(fileName, true);
    CIniFile ini(fileName.c_str());
    m_config.Enabled = ini.GetInt(kSettings, "Enabled", 1) != 0;
    m_config.ReportProgress = ini.GetInt(kSettings, "ReportProgress", 1) != 0;
    m_config.UseNtSymPath = ini.GetInt(kSettings, "UseNtSymPath", 1) != 0;
    // Read whole: a path cut here would be written back cut by the next save.
    m_config.SymPath = ini.GetString(kSettings, "SymPath", "", 0);
    m_config.DestDir = ini.GetString(kSettings, "VCSymDir", "", 0);
    m_config.Prefetch = ini.GetInt(kSettings, "Prefetch", 1) != 0;
    const int parallel = ini.GetInt(kSettings, "PrefetchParallel", 0);
    m_config.PrefetchParallel = parallel > 0 ? static_cast<unsigned>(parallel) : 0;

    std::vector<std::string> exclusions;
    if (SymSrvIniFile().GetSectionKeys(kExclusions, exclusions))
        m_config.ExclusionList = exclusions;
    else
        TraceMessage(TRACE_ERROR, 0, "%s", "CIniFile::GetSectionKeys() failed.\n");

    if (m_config.DestDir.empty())
    {
        std::string windowsDir;
        if (!GetWindowsDir(windowsDir) || windowsDir.empty())
        {
            TraceMessage(TRACE_INFO, 0, "%s", "Cannot determine Windows directory.\n");
        }
        else
        {
            if (windowsDir.back() != '\\')
                windowsDir += '\\';
            m_config.DestDir = windowsDir + "symbols";
        }
    }

    // The first start carries what it read (qx3.ini's values or the
    // defaults) into the new user INI, and puts symsrv.ini's exclusions in
    // their normal form.
    std::string userFile;
    GetIniFileName(userFile, false);
    if (!IsExistingFile(userFile))
    {
        TraceMessage(TRACE_INFO, 0, "%s", "User INI file does not exist.\n");
        SaveConfiguration();
    }
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return true;
}

bool CAppEngine::SaveConfiguration()
{
    CTraceScope scope("CAppEngine::SaveConfiguration()\n", 0);
    CIniFile ini = WritableIniFile();
    const bool written = ini.WriteInt(kSettings, "Enabled", m_config.Enabled ? 1 : 0) &&
                         ini.WriteInt(kSettings, "ReportProgress", m_config.ReportProgress ? 1 : 0) &&
                         ini.WriteInt(kSettings, "UseNtSymPath", m_config.UseNtSymPath ? 1 : 0) &&
                         ini.WriteString(kSettings, "SymPath", m_config.SymPath.c_str()) &&
                         ini.WriteString(kSettings, "VCSymDir", m_config.DestDir.c_str());
    if (!written)
    {
        TraceMessage(TRACE_INFO, 0, "App ini file write failed. Error: %u\n", static_cast<unsigned>(ini.GetError()));
        CErrorReport::SetErrorInfo("Cannot save settings in .INI file.", ini.GetError());
        return false;
    }
    CIniFile symsrv = SymSrvIniFile();
    if (!symsrv.WriteSection(kExclusions, m_config.ExclusionList))
    {
        TraceMessage(TRACE_INFO, 0, "SymSrv ini file write failed. Error: %u\n",
                     static_cast<unsigned>(symsrv.GetError()));
        CErrorReport::SetErrorInfo("Cannot save exclusion list in symsrv.ini file.", symsrv.GetError());
        return false;
    }
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return true;
}

void CAppEngine::ConfigureSymbolHandler()
{
    CTraceScope scope("CAppEngine::ConfigureSymbolHandler()\n", 0);
    SymbolHandlerConfiguration config;
    config.Enabled = m_config.Enabled;
    config.ReportProgress = m_config.ReportProgress;
    config.DestDir = m_config.DestDir;
    config.Prefetch = m_config.Prefetch;
    config.PrefetchParallel = m_config.PrefetchParallel;
    // What each program's last session loaded is kept beside the user's settings.
    std::string userFile;
    GetIniFileName(userFile, false);
    const PathParts userParts = SplitPath(userFile);
    config.HistoryFile = userParts.drive + userParts.dir + "qx3loaded.txt";
    // Read again each time: a changed variable applies at the next change of settings.
    if (m_config.UseNtSymPath)
    {
        GetEnvVar("_NT_SYMBOL_PATH", config.SymPath);
        TraceMessage(TRACE_INFO, 0, "SymPath: %s\n", config.SymPath.c_str());
    }
    else
    {
        config.SymPath = m_config.SymPath;
    }
    m_symbolHandler.SetConfiguration(config);
}

bool CAppEngine::IsToolbarAdded()
{
    CTraceScope scope("CAppEngine::IsToolbarAdded()\n", 0);
    const int added = WritableIniFile().GetInt(kStatus, "ToolbarAdded", 0);
    TraceMessage(TRACE_INFO, 0, "Added: %d\n", added);
    return added != 0;
}

void CAppEngine::SetToolbarAdded(bool added)
{
    CTraceScope scope("CAppEngine::SetToolbarAdded()\n", 0);
    TraceMessage(TRACE_INFO, 0, "Added: %s\n", BoolText(added));
    WritableIniFile().WriteInt(kStatus, "ToolbarAdded", added ? 1 : 0);
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
}

BOOL WINAPI WFDOHandler(LPDEBUG_EVENT pDE, DWORD Timeout)
{
    CTraceScope scope("WFDOHandler()\n", 0);
    const DWORD code = pDE != nullptr ? pDE->dwDebugEventCode : 0;
    TraceMessage(TRACE_INFO, 0, "WFDOHandler - pDE: %p  Timeout: %u  Code: %u\n", static_cast<void*>(pDE),
                 static_cast<unsigned>(Timeout), static_cast<unsigned>(code));
    if (pDE == nullptr)
        return TRUE;

    HANDLE file = nullptr;
    if (code == CREATE_PROCESS_DEBUG_EVENT)
    {
        file = pDE->u.CreateProcessInfo.hFile;
        TraceMessage(TRACE_INFO, 0, "WFDOHandler(CreateProcess) - BaseAddr: %p  hFile: %x\n",
                     pDE->u.CreateProcessInfo.lpBaseOfImage, static_cast<unsigned>(HandleToULong(file)));
    }
    else if (code == LOAD_DLL_DEBUG_EVENT)
    {
        file = pDE->u.LoadDll.hFile;
        TraceMessage(TRACE_INFO, 0, "WFDOHandler(LoadDll) - BaseAddr: %p  hFile: %x\n", pDE->u.LoadDll.lpBaseOfDll,
                     static_cast<unsigned>(HandleToULong(file)));
    }
    else
    {
        return TRUE;
    }
    // The handle belongs to this process: the debugger received it here.
    if (file != nullptr && file != INVALID_HANDLE_VALUE)
    {
        // A new program: its DLLs' symbols are fetched while its own are asked for.
        if (code == CREATE_PROCESS_DEBUG_EVENT)
            CAppEngine::GetInstance().m_symbolHandler.Prefetch(file);
        CAppEngine::GetInstance().m_symbolHandler.GetSymbols(file);
    }
    return TRUE;
}
