#pragma once
#include <windows.h>

// What qx3trap.dll offers its loader: the exports "Init" and "SetHook", bound
// by name, and the handler contract of its hook ids.

// Hook id of the handler that sees each debug event of the debugger's
// WaitForDebugEvent; the only id in use, others are accepted and ignored.
constexpr DWORD kHookIdWaitForDebugEvent = 1;

// A handler under hook id 1: called on the debugger's thread with the
// debugger's own record, just filled by WaitForDebugEvent, and the time-out
// the debugger passed; its result is not used.
typedef BOOL(WINAPI* HookHandlerProc)(LPDEBUG_EVENT debugEvent, DWORD timeout);

// Export "Init": hooks the debugger modules loaded now; TRUE.
typedef BOOL(WINAPI* HookInitProc)();
// Export "SetHook": sets, replaces or (null) removes the handler of a hook id;
// FALSE before Init.
typedef BOOL(WINAPI* HookSetHookProc)(DWORD hookId, HookHandlerProc handler);
