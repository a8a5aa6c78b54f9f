// The stand-ins of the debugger's modules, driven as the IDE drives them:
// through DEVDBG.PKG only.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "DebuggerModules.h"
#include "TestSupport.h"

namespace
{

class DebuggerModulesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_devDbg = LoadLibraryA((ExeDirectory() + "DEVDBG.PKG").c_str());
        ASSERT_NE(nullptr, m_devDbg);
        ASSERT_TRUE(BindExport(m_devDbg, "DevDbgLoadDebugger", m_load));
        ASSERT_TRUE(BindExport(m_devDbg, "DevDbgUnloadDebugger", m_unload));
        ASSERT_TRUE(BindExport(m_devDbg, "DevDbgStartDebug", m_start));
        ASSERT_TRUE(BindExport(m_devDbg, "DevDbgWaitDebugEnd", m_waitEnd));
    }
    void TearDown() override
    {
        while (m_unload())
        {
        }
        FreeLibrary(m_devDbg);
    }
    static std::string Debuggee(const std::string& arguments)
    {
        return "\"" + ExeDirectory() + "vc6_debuggee.exe\" " + arguments;
    }

    HMODULE m_devDbg = nullptr;
    DevDbgLoadDebuggerProc m_load = nullptr;
    DevDbgUnloadDebuggerProc m_unload = nullptr;
    DmStartDebugProc m_start = nullptr;
    DmWaitDebugEndProc m_waitEnd = nullptr;
};

TEST_F(DebuggerModulesTest, DebugsAProgramToItsEndThroughTheLoadedChain)
{
    ASSERT_TRUE(m_load("TLLOC.DLL", "DM.DLL"));
    EXPECT_NE(nullptr, GetModuleHandleA("TLLOC.DLL"));
    EXPECT_NE(nullptr, GetModuleHandleA("DM.DLL"));
    DWORD processId = 0;
    ASSERT_TRUE(m_start(Debuggee("version.dll psapi.dll no-such.dll").c_str(), 50, &processId));
    DEBUG_SESSION_RESULT result = {};
    ASSERT_TRUE(m_waitEnd(60000, &result));
    EXPECT_EQ(processId, result.processId);
    EXPECT_EQ(2u, result.exitCode);
    EXPECT_EQ(0u, result.error);
    EXPECT_EQ(1u, result.eventsByCode[CREATE_PROCESS_DEBUG_EVENT]);
    EXPECT_GE(result.eventsByCode[LOAD_DLL_DEBUG_EVENT], 2u);
    EXPECT_EQ(1u, result.eventsByCode[EXIT_PROCESS_DEBUG_EVENT]);
    DWORD sum = 0;
    for (DWORD count : result.eventsByCode)
        sum += count;
    EXPECT_EQ(result.events, sum);
}

TEST_F(DebuggerModulesTest, OneSessionAtATime)
{
    ASSERT_TRUE(m_load("TLLOC.DLL", "DM.DLL"));
    ASSERT_TRUE(m_start(Debuggee("").c_str(), 50, nullptr));
    EXPECT_FALSE(m_start(Debuggee("").c_str(), 50, nullptr));
    EXPECT_EQ(DWORD(ERROR_BUSY), GetLastError());
    DEBUG_SESSION_RESULT result = {};
    ASSERT_TRUE(m_waitEnd(60000, &result));
    EXPECT_FALSE(m_waitEnd(0, &result));
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
    // The next one may start now.
    ASSERT_TRUE(m_start(Debuggee("").c_str(), 50, nullptr));
    EXPECT_TRUE(m_waitEnd(60000, &result));
}

TEST_F(DebuggerModulesTest, ReportsFailuresWithTheirErrors)
{
    EXPECT_FALSE(m_start(Debuggee("").c_str(), 50, nullptr));
    EXPECT_EQ(DWORD(ERROR_MOD_NOT_FOUND), GetLastError());
    EXPECT_FALSE(m_unload());
    EXPECT_FALSE(m_load("TLLOC.DLL", "NO-SUCH-DM.DLL"));
    EXPECT_EQ(nullptr, GetModuleHandleA("TLLOC.DLL"));

    ASSERT_TRUE(m_load("TLLOC.DLL", "DM.DLL"));
    EXPECT_FALSE(m_start((ExeDirectory() + "no-such-program.exe").c_str(), 50, nullptr));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST_F(DebuggerModulesTest, EachLoadIsUndoneByOneUnload)
{
    ASSERT_TRUE(m_load("TLLOC.DLL", "DM.DLL"));
    ASSERT_TRUE(m_load("TLLOC.DLL", "DM.DLL"));
    ASSERT_TRUE(m_unload());
    EXPECT_NE(nullptr, GetModuleHandleA("DM.DLL"));
    ASSERT_TRUE(m_unload());
    EXPECT_EQ(nullptr, GetModuleHandleA("DM.DLL"));
    EXPECT_EQ(nullptr, GetModuleHandleA("TLLOC.DLL"));
}

} // namespace
