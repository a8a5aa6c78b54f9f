// qx3trap.dll in a process with the stand-ins of the debugger's modules: the
// hooks follow DEVDBG.PKG -> TLLOC.DLL -> DM.DLL and every event of a real
// debuggee reaches the handler. Each test loads a fresh copy of the library
// and unloads the modules and then the library at its end.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DebuggerPackage.h"
#include "ScopedHandle.h"
#include "TestSupport.h"
#include "qx3trap.h"

namespace
{

constexpr DWORD kWaitTimeout = 10;

struct SeenEvent
{
    DWORD code;
    DWORD processId;
    DWORD timeout;
};
// Written on the debugger thread; read after the session's end has been
// waited for, which joins that thread.
std::vector<SeenEvent> g_seen;
unsigned g_otherCalls;

BOOL WINAPI RecordEvent(LPDEBUG_EVENT event, DWORD timeout)
{
    g_seen.push_back({event->dwDebugEventCode, event->dwProcessId, timeout});
    return TRUE;
}

BOOL WINAPI OtherHandler(LPDEBUG_EVENT, DWORD)
{
    ++g_otherCalls;
    return TRUE;
}

class HookHandlerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_seen.clear();
        g_otherCalls = 0;
        m_trap = LoadLibraryA((ExeDirectory() + "qx3trap.dll").c_str());
        ASSERT_NE(nullptr, m_trap);
        ASSERT_TRUE(BindExport(m_trap, "Init", m_init));
        ASSERT_TRUE(BindExport(m_trap, "SetHook", m_setHook));
    }

    // The hooked modules go before the library that their slots lead into.
    void TearDown() override
    {
        m_package.Unload();
        FreeLibrary(m_trap);
        EXPECT_EQ(nullptr, GetModuleHandleA("DM.DLL"));
    }

    void LoadDevDbg() { ASSERT_TRUE(m_package.Load(ExeDirectory() + "DEVDBG.PKG")); }

    static std::string Debuggee(const std::string& arguments)
    {
        return "\"" + ExeDirectory() + "vc6_debuggee.exe\" " + arguments;
    }

    // Debugs a program that loads two DLLs after a pause long enough for
    // some waits to time out.
    DEBUG_SESSION_RESULT Debug()
    {
        g_seen.clear();
        DEBUG_SESSION_RESULT result = {};
        DWORD processId = 0;
        EXPECT_TRUE(m_package.StartDebug(Debuggee("-sleep 100 version.dll psapi.dll"), kWaitTimeout, &processId));
        EXPECT_TRUE(m_package.WaitDebugEnd(60000, result));
        EXPECT_EQ(processId, result.processId);
        EXPECT_EQ(0u, result.error);
        EXPECT_EQ(2u, result.exitCode);
        EXPECT_GT(result.timeouts, 0u);
        return result;
    }

    // The handler saw each event that DM.DLL received, once, already filled
    // in (DM.DLL fills the record with 0xCC before each wait), with the
    // debugger's time-out, and no time-out.
    static void ExpectEveryEventSeen(const DEBUG_SESSION_RESULT& result)
    {
        ASSERT_EQ(result.events, g_seen.size());
        DWORD byCode[RIP_EVENT + 1] = {};
        for (const SeenEvent& seen : g_seen)
        {
            ASSERT_TRUE(seen.code >= EXCEPTION_DEBUG_EVENT && seen.code <= RIP_EVENT) << seen.code;
            EXPECT_EQ(result.processId, seen.processId);
            EXPECT_EQ(kWaitTimeout, seen.timeout);
            ++byCode[seen.code];
        }
        EXPECT_TRUE(std::equal(byCode, byCode + RIP_EVENT + 1, result.eventsByCode));
        EXPECT_EQ(1u, byCode[CREATE_PROCESS_DEBUG_EVENT]);
        EXPECT_GE(byCode[LOAD_DLL_DEBUG_EVENT], 2u);
        EXPECT_EQ(1u, byCode[EXIT_PROCESS_DEBUG_EVENT]);
    }

    HMODULE m_trap = nullptr;
    HookInitProc m_init = nullptr;
    HookSetHookProc m_setHook = nullptr;
    CDebuggerPackage m_package;
};

TEST_F(HookHandlerTest, HooksFollowTheChainFromDevDbgUnderAnyNameAcrossUnloadAndReload)
{
    LoadDevDbg();
    ASSERT_TRUE(m_init());
    ASSERT_TRUE(m_setHook(kHookIdWaitForDebugEvent, &RecordEvent));
    std::string directory = ExeDirectory();
    std::transform(directory.begin(), directory.end(), directory.begin(), ::toupper);
    // A failed load of the right name hooks nothing and breaks nothing.
    EXPECT_FALSE(m_package.LoadDebugger(directory + "MISSING\\TLLOC.DLL"));
    // Loaded by bare names, then under full upper-case paths.
    for (int round = 0; round < 2; ++round)
    {
        ASSERT_TRUE(round == 0 ? m_package.LoadDebugger()
                               : m_package.LoadDebugger(directory + "TLLOC.DLL", directory + "DM.DLL"));
        ExpectEveryEventSeen(Debug());
        ASSERT_TRUE(m_package.UnloadDebugger());
        ASSERT_EQ(nullptr, GetModuleHandleA("TLLOC.DLL"));
    }
    // A second Init changes nothing.
    EXPECT_TRUE(m_init());
    ASSERT_TRUE(m_package.LoadDebugger());
    // Both slots already lead to the replacements now: the re-hooks must not
    // take them for the real functions.
    ASSERT_TRUE(m_package.LoadDebugger());
    ExpectEveryEventSeen(Debug());
    ASSERT_TRUE(m_package.UnloadDebugger());
    ExpectEveryEventSeen(Debug());
}

TEST_F(HookHandlerTest, SetHookFailsBeforeInitAndInitHooksTheModulesAlreadyLoaded)
{
    EXPECT_FALSE(m_setHook(kHookIdWaitForDebugEvent, &RecordEvent));
    LoadDevDbg();
    ASSERT_TRUE(m_package.LoadDebugger());
    ASSERT_TRUE(m_init());
    ASSERT_TRUE(m_setHook(kHookIdWaitForDebugEvent, &RecordEvent));
    // Unknown ids are accepted and ignored.
    EXPECT_TRUE(m_setHook(2, &OtherHandler));
    EXPECT_TRUE(m_setHook(0, &OtherHandler));
    ExpectEveryEventSeen(Debug());
    EXPECT_EQ(0u, g_otherCalls);
}

TEST_F(HookHandlerTest, NothingIsHookedWhenDevDbgComesAfterInit)
{
    ASSERT_TRUE(m_init());
    ASSERT_TRUE(m_setHook(kHookIdWaitForDebugEvent, &RecordEvent));
    LoadDevDbg();
    ASSERT_TRUE(m_package.LoadDebugger());
    EXPECT_GT(Debug().events, 0u);
    EXPECT_TRUE(g_seen.empty());
}

// Holds the debugger thread inside the handler at the first event.
HANDLE g_inside;
HANDLE g_release;
BOOL WINAPI BlockingHandler(LPDEBUG_EVENT event, DWORD timeout)
{
    if (g_seen.empty())
    {
        SetEvent(g_inside);
        WaitForSingleObject(g_release, INFINITE);
    }
    return RecordEvent(event, timeout);
}

struct SetHookCall
{
    HookSetHookProc setHook;
    BOOL result;
};

DWORD WINAPI RemoveHandler(void* parameter)
{
    SetHookCall* call = static_cast<SetHookCall*>(parameter);
    call->result = call->setHook(kHookIdWaitForDebugEvent, nullptr);
    return 0;
}

TEST_F(HookHandlerTest, SetHookWaitsWhileTheHandlerRunsAndANullHandlerStopsTheCalls)
{
    CScopedHandle inside(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    CScopedHandle release(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    g_inside = inside.Get();
    g_release = release.Get();
    LoadDevDbg();
    ASSERT_TRUE(m_init());
    ASSERT_TRUE(m_setHook(kHookIdWaitForDebugEvent, &BlockingHandler));
    ASSERT_TRUE(m_package.LoadDebugger());
    ASSERT_TRUE(m_package.StartDebug(Debuggee("version.dll"), kWaitTimeout));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(inside.Get(), 60000));

    SetHookCall call = {m_setHook, FALSE};
    CScopedHandle remover(CreateThread(nullptr, 0, &RemoveHandler, &call, 0, nullptr));
    // Bounded check that the call does not come back while the handler runs.
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(remover.Get(), 300));
    SetEvent(release.Get());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(remover.Get(), 60000));
    EXPECT_TRUE(call.result);
    DEBUG_SESSION_RESULT result = {};
    EXPECT_TRUE(m_package.WaitDebugEnd(60000, result));
    EXPECT_GT(Debug().events, 0u);
    EXPECT_TRUE(g_seen.empty());
}

TEST(HookLibraryTest, CarriesItsVersionInformation)
{
    const std::string path = ExeDirectory() + "qx3trap.dll";
    DWORD unused = 0;
    std::vector<char> info(GetFileVersionInfoSizeA(path.c_str(), &unused));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &size));
    EXPECT_EQ(0x00010000u, fixed->dwFileVersionMS);
    EXPECT_EQ(0x00040000u, fixed->dwFileVersionLS);
    EXPECT_EQ(0x00010000u, fixed->dwProductVersionMS);
    EXPECT_EQ(0x00000000u, fixed->dwProductVersionLS);
    const char* expected[][2] = {{"FileDescription", "Quillmar Hook DLL"},
                                 {"InternalName", "qx3trap"},
                                 {"OriginalFilename", "qx3trap.dll"},
                                 {"ProductName", "Quillmar"}};
    for (const auto& entry : expected)
    {
        char* value = nullptr;
        const std::string key = std::string("\\StringFileInfo\\040904b0\\") + entry[0];
        ASSERT_TRUE(VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &size)) << entry[0];
        EXPECT_STREQ(entry[1], value);
    }
}

} // namespace
