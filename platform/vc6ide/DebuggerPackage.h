#pragma once
#include <windows.h>

#include <string>

#include "DebuggerModules.h"

// The IDE's hold on its debugger package DEVDBG.PKG: loads it by path, binds
// its exports, and through it loads the debugger (TLLOC.DLL, DM.DLL) and runs
// debug sessions. What it loaded it unloads when it goes.
class CDebuggerPackage
{
public:
    CDebuggerPackage() = default;
    ~CDebuggerPackage();
    CDebuggerPackage(const CDebuggerPackage&) = delete;
    CDebuggerPackage& operator=(const CDebuggerPackage&) = delete;

    // Loads DEVDBG.PKG from path and binds its exports.
    bool Load(const std::string& path);
    // Undoes every debugger load made through this object, then unloads DEVDBG.PKG.
    void Unload();

    // DEVDBG.PKG loads TLLOC.DLL, which loads DM.DLL, each under the name given.
    bool LoadDebugger(const std::string& tlLocName = "TLLOC.DLL", const std::string& dmName = "DM.DLL");
    // Undoes one LoadDebugger.
    bool UnloadDebugger();

    bool StartDebug(const std::string& commandLine, DWORD waitTimeout, DWORD* processId = nullptr);
    bool WaitDebugEnd(DWORD timeout, DEBUG_SESSION_RESULT& result);
    // Where the debugger's lines go (DEVDBG.PKG hands it down to DM.DLL); null: nowhere.
    bool SetOutput(DebuggerOutputProc output, void* context);
    // Starts a session and waits for its end.
    bool Debug(const std::string& commandLine, DWORD waitTimeout, DEBUG_SESSION_RESULT& result);

private:
    HMODULE m_module = nullptr;
    int m_debuggerLoads = 0;
    DevDbgLoadDebuggerProc m_loadDebugger = nullptr;
    DevDbgUnloadDebuggerProc m_unloadDebugger = nullptr;
    DmStartDebugProc m_startDebug = nullptr;
    DmWaitDebugEndProc m_waitDebugEnd = nullptr;
    DevDbgSetOutputProc m_setOutput = nullptr;
};
