#pragma once
#include <windows.h>

#include <string>

#include "DebuggerPackage.h"
#include "MsdevOutput.h"

// The stand-in IDE's debugger: the debugger package DEVDBG.PKG, loaded from
// the host's own directory when the IDE starts (before any add-in) and kept
// until the process ends, which loads TLLOC.DLL and DM.DLL when the first
// session starts. A session runs the debuggee on the debugger's own thread
// while the GUI thread goes on dispatching messages, as the IDE's does; the
// lines the debugger prints (its verdict on each image's symbols) reach the
// output window through the GUI thread, after whatever was posted there
// before them.
class CMsdevDebugger
{
public:
    explicit CMsdevDebugger(CMsdevOutput& output);
    ~CMsdevDebugger();
    CMsdevDebugger(const CMsdevDebugger&) = delete;
    CMsdevDebugger& operator=(const CMsdevDebugger&) = delete;

    // Loads DEVDBG.PKG from the host's directory; false (recorded) without it.
    bool LoadPackage();
    // Debugs a command line to its end; false when the session cannot start
    // or ended with an error.
    bool Debug(const std::string& commandLine);

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static void WINAPI OnDebuggerOutput(void* debugger, LPCSTR line);
    void PumpMessages();

    CMsdevOutput& m_output;
    CDebuggerPackage m_package;
    bool m_packageLoaded = false;
    bool m_debuggerLoaded = false;
    // A window of the GUI thread that receives the debugger's lines.
    HWND m_window = nullptr;
};
