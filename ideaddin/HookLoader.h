#pragma once
#include <windows.h>

#include <string>

#include "qx3trap.h"

// Full path of qx3trap.dll in the directory of the add-in's own module;
// empty when the module's path cannot be found.
std::string GetHookDllName();

// The add-in's binding to the hook library: loads qx3trap.dll from the
// add-in's own directory (never through the search path), binds its exports
// "Init" and "SetHook" by name and calls its Init once. The library is never
// unloaded: its hooks stay in the debugger's modules for the process's life,
// and a null handler is how the add-in stops receiving events. No lock of its
// own: its owner serialises the calls.
class CHookLoader
{
public:
    CHookLoader();
    ~CHookLoader();
    CHookLoader(const CHookLoader&) = delete;
    CHookLoader& operator=(const CHookLoader&) = delete;

    // Loads the library, binds both exports and calls the library's Init. A
    // second call after success changes nothing; after a failure the loader
    // forgets the library (without unloading it) and a later call tries again.
    bool Init();
    // Passes a handler (null removes it) for a hook id to the library's SetHook.
    bool SetHookHandler(DWORD hookId, HookHandlerProc handler);

private:
    HMODULE m_library;
    HookInitProc m_init;
    HookSetHookProc m_setHook;
};
