#include "DebuggerPackage.h"

CDebuggerPackage::~CDebuggerPackage()
{
    Unload();
}

bool CDebuggerPackage::Load(const std::string& path)
{
    Unload();
    m_module = LoadLibraryA(path.c_str());
    if (m_module == nullptr)
        return false;
    if (BindExport(m_module, "DevDbgLoadDebugger", m_loadDebugger) &&
        BindExport(m_module, "DevDbgUnloadDebugger", m_unloadDebugger) &&
        BindExport(m_module, "DevDbgStartDebug", m_startDebug) &&
        BindExport(m_module, "DevDbgWaitDebugEnd", m_waitDebugEnd) &&
        BindExport(m_module, "DevDbgSetOutput", m_setOutput))
        return true;
    Unload();
    return false;
}

void CDebuggerPackage::Unload()
{
    while (m_debuggerLoads > 0 && UnloadDebugger())
    {
    }
    if (m_module != nullptr)
        FreeLibrary(m_module);
    m_module = nullptr;
    m_debuggerLoads = 0;
}

bool CDebuggerPackage::LoadDebugger(const std::string& tlLocName, const std::string& dmName)
{
    if (m_module == nullptr || !m_loadDebugger(tlLocName.c_str(), dmName.c_str()))
        return false;
    ++m_debuggerLoads;
    return true;
}

bool CDebuggerPackage::UnloadDebugger()
{
    if (m_module == nullptr || !m_unloadDebugger())
        return false;
    --m_debuggerLoads;
    return true;
}

bool CDebuggerPackage::StartDebug(const std::string& commandLine, DWORD waitTimeout, DWORD* processId)
{
    return m_module != nullptr && m_startDebug(commandLine.c_str(), waitTimeout, processId);
}

bool CDebuggerPackage::WaitDebugEnd(DWORD timeout, DEBUG_SESSION_RESULT& result)
{
    return m_module != nullptr && m_waitDebugEnd(timeout, &result);
}

bool CDebuggerPackage::SetOutput(DebuggerOutputProc output, void* context)
{
    return m_module != nullptr && m_setOutput(output, context);
}

bool CDebuggerPackage::Debug(const std::string& commandLine, DWORD waitTimeout, DEBUG_SESSION_RESULT& result)
{
    return StartDebug(commandLine, waitTimeout) && WaitDebugEnd(INFINITE, result);
}
