#pragma once
#include <windows.h>

// Reads the trace switch (key "Trace" of section "Debug" in the qx3.ini beside
// the module) once at start-up: off, the module writes nothing from then on;
// on, it appends to its log file with the thread-id and date/time columns.
// A DLL logs beside itself under its own name (C:\Tools\qx3ide.dll logs to
// C:\Tools\qx3ide.log); a program logs to g_ModuleLogName beside its exe.
void InitModuleTrace(HMODULE module);

// The log file name of this deliverable ("qx3fetch.log", "qx3ide.log",
// "qx3trap.log"): a program always uses it, a DLL when its own path is unknown.
// Each module that links this library defines it.
extern const char g_ModuleLogName[];
