/* A DLL linked by lld, which puts the import address table in read-only
   .rdata: ProbeLoad calls LoadLibraryA through that table. Built without the
   C runtime, so that KERNEL32 is its only import. */
#include <windows.h>

__declspec(dllexport) HMODULE __cdecl ProbeLoad(const char* name)
{
    return LoadLibraryA(name);
}

BOOL WINAPI DllMainCRTStartup(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
