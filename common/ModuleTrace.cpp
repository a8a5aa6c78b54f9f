#include "ModuleTrace.h"

#include <string>

#include "IniFile.h"
#include "ModulePath.h"
#include "Trace.h"

void InitModuleTrace(HMODULE module)
{
    CIniFile ini("qx3.ini", true, module);
    if (ini.GetInt("Debug", "Trace", 0) == 0)
    {
        TraceEnable(0);
        return;
    }

    // A program's own log name lands beside its executable; a DLL's log lies
    // beside the DLL and bears its name.
    const bool isProgram = module == nullptr || module == GetModuleHandleA(nullptr);
    std::string logName;
    if (isProgram || !GetModulePathPart(logName, MODULE_PATH_DRIVE | MODULE_PATH_DIR | MODULE_PATH_FNAME, module))
        logName = g_ModuleLogName;
    else
        logName += ".log";

    TraceOpenLogFile(logName.c_str(), "a");
    TraceSetOptions(0xFFFFFFFFu, 3, 1, 1);
    TraceEnable(1);
}
