#pragma once
#include <windows.h>

// The replacement procedures written into the debugger modules' import slots.
// Each has the signature and calling convention of the function it stands in
// for, passes the call on under the hook handler's lock and returns the real
// function's result and last error unchanged.

// DEVDBG.PKG's LoadLibraryA: re-hooks TLLOC.DLL each time it is loaded.
HMODULE WINAPI DevDbgLoadLibraryA(LPCSTR fileName);
// TLLOC.DLL's LoadLibraryA: re-hooks DM.DLL each time it is loaded.
HMODULE WINAPI TlLocLoadLibraryA(LPCSTR fileName);
// DM.DLL's WaitForDebugEvent: hands each event received to the handler of
// hook id 1 before DM.DLL sees it; a time-out never reaches the handler.
BOOL WINAPI DmWaitForDebugEvent(LPDEBUG_EVENT debugEvent, DWORD timeout);
