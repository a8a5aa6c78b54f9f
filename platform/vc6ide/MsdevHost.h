#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "MsdevAddIns.h"
#include "MsdevApplication.h"
#include "MsdevDebugger.h"
#include "MsdevOutput.h"
#include "MsdevScript.h"

// One stand-in IDE on the calling thread, which must be a single-threaded
// apartment: its output window, application object, debugger (whose package
// is loaded at once, before any add-in), add-ins and script. Going away
// disconnects the add-ins still connected, as the IDE does when it closes.
class CMsdevHost
{
public:
    CMsdevHost()
        : m_application(m_output),
          m_debugger(m_output),
          m_addIns(m_application, m_output),
          m_script(m_application, m_addIns, m_debugger, m_output)
    {
        m_debugger.LoadPackage();
    }
    CMsdevHost(const CMsdevHost&) = delete;
    CMsdevHost& operator=(const CMsdevHost&) = delete;

    CMsdevOutput& Output() { return m_output; }
    CMsdevApplication& Application() { return m_application; }
    CMsdevAddIns& AddIns() { return m_addIns; }
    CMsdevScript& Script() { return m_script; }

    // Runs script lines (see CMsdevScript); true when each succeeded.
    bool Run(const std::vector<std::string>& lines) { return m_script.Run(lines); }
    std::vector<std::string> Lines() const { return m_output.Lines(); }

private:
    CMsdevOutput m_output;
    CMsdevApplication m_application;
    CMsdevDebugger m_debugger;
    CMsdevAddIns m_addIns;
    CMsdevScript m_script;
};
