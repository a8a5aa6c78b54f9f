#include "HookProcedures.h"

#include <windows.h>

#include <gtest/gtest.h>

// In this process no debugger module is hooked, so the replacements have no
// hook record: they must still reach the real functions, results and last
// errors unchanged.
TEST(HookProceduresTest, WithoutAHookRecordTheRealFunctionsAnswer)
{
    for (auto load : {&DevDbgLoadLibraryA, &TlLocLoadLibraryA})
    {
        HMODULE version = load("version.dll");
        EXPECT_EQ(GetModuleHandleA("version.dll"), version);
        EXPECT_NE(nullptr, version);
        FreeLibrary(version);

        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(nullptr, load("no-such-module-here.dll"));
        EXPECT_EQ(DWORD(ERROR_MOD_NOT_FOUND), GetLastError());
    }

    DEBUG_EVENT event = {};
    SetLastError(ERROR_SUCCESS);
    const BOOL real = WaitForDebugEvent(&event, 0);
    const DWORD realError = GetLastError();
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(real, DmWaitForDebugEvent(&event, 0));
    EXPECT_EQ(realError, GetLastError());
}
