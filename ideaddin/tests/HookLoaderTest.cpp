#include "HookLoader.h"

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "DebuggerPackage.h"
#include "ScopedHandle.h"
#include "TestSupport.h"

namespace
{

unsigned g_events;

BOOL WINAPI CountEvent(LPDEBUG_EVENT, DWORD)
{
    ++g_events;
    return TRUE;
}

TEST(HookLoaderTest, TheHookLibraryLiesBesideTheLoadersModule)
{
    EXPECT_EQ(ExeDirectory() + "qx3trap.dll", GetHookDllName());
}

// qx3trap.dll stays loaded and initialised for the rest of this process, as
// in the IDE: one test drives the whole life of the binding.
TEST(HookLoaderTest, LoadsTheLibraryOnceAndPassesHandlersToIt)
{
    CDebuggerPackage package;
    ASSERT_TRUE(package.Load(ExeDirectory() + "DEVDBG.PKG"));
    auto debug = [&package]()
    {
        g_events = 0;
        DEBUG_SESSION_RESULT result = {};
        EXPECT_TRUE(package.Debug("\"" + ExeDirectory() + "vc6_debuggee.exe\" version.dll", 10, result));
        return result.events;
    };

    CHookLoader loader;
    EXPECT_FALSE(loader.SetHookHandler(kHookIdWaitForDebugEvent, &CountEvent));
    ASSERT_TRUE(loader.Init());
    EXPECT_NE(nullptr, GetModuleHandleA(GetHookDllName().c_str()));
    EXPECT_TRUE(loader.Init());

    ASSERT_TRUE(loader.SetHookHandler(kHookIdWaitForDebugEvent, &CountEvent));
    ASSERT_TRUE(package.LoadDebugger());
    const DWORD events = debug();
    EXPECT_GT(events, 0u);
    EXPECT_EQ(events, g_events);

    EXPECT_TRUE(loader.SetHookHandler(kHookIdWaitForDebugEvent, nullptr));
    EXPECT_GT(debug(), 0u);
    EXPECT_EQ(0u, g_events);
}

// Exit code of the probe run, with the given arguments, from a directory of
// its own that holds, besides it, the given library as qx3trap.dll (none when
// empty).
DWORD RunProbeBeside(const std::string& library, const std::string& arguments = "")
{
    CTempDir dir;
    const std::string probe = dir.File("hookloader_probe.exe");
    if (!CopyFileA((ExeDirectory() + "hookloader_probe.exe").c_str(), probe.c_str(), FALSE) ||
        (!library.empty() && !CopyFileA((ExeDirectory() + library).c_str(), dir.File("qx3trap.dll").c_str(), FALSE)))
        return MAXDWORD;
    // A probe that cannot run, or does not end, answers -1: MAXDWORD.
    return static_cast<DWORD>(RunProgram(probe, arguments, 60000));
}

TEST(HookLoaderTest, FailsWithoutTheLibraryOrItsSetHookExport)
{
    EXPECT_EQ(0u, RunProbeBeside(""));
    // Loaded and left mapped, but not bound: SetHookHandler finds no library.
    EXPECT_EQ(2u, RunProbeBeside("fake_qx3trap.dll"));
    EXPECT_EQ(7u, RunProbeBeside("qx3trap.dll"));
}

TEST(HookLoaderTest, SecondInitNeitherLoadsTheLibraryAgainNorCallsItsInit)
{
    EXPECT_EQ(7u, RunProbeBeside("counting_qx3trap.dll", "twice"));
}

} // namespace
