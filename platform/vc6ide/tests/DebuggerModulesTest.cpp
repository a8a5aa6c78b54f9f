// The stand-ins of the debugger's modules, driven as the IDE drives them:
// through DEVDBG.PKG only.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "DebuggerPackage.h"
#include "TestSupport.h"

namespace
{

class DebuggerModulesTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_package.Load(ExeDirectory() + "DEVDBG.PKG")); }
    static std::string Debuggee(const std::string& arguments)
    {
        return "\"" + ExeDirectory() + "vc6_debuggee.exe\" " + arguments;
    }

    CDebuggerPackage m_package;
};

TEST_F(DebuggerModulesTest, DebugsAProgramToItsEndThroughTheLoadedChain)
{
    ASSERT_TRUE(m_package.LoadDebugger());
    EXPECT_NE(nullptr, GetModuleHandleA("TLLOC.DLL"));
    EXPECT_NE(nullptr, GetModuleHandleA("DM.DLL"));
    DWORD processId = 0;
    ASSERT_TRUE(m_package.StartDebug(Debuggee("version.dll psapi.dll no-such.dll"), 50, &processId));
    DEBUG_SESSION_RESULT result = {};
    ASSERT_TRUE(m_package.WaitDebugEnd(60000, result));
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
    ASSERT_TRUE(m_package.LoadDebugger());
    ASSERT_TRUE(m_package.StartDebug(Debuggee(""), 50));
    EXPECT_FALSE(m_package.StartDebug(Debuggee(""), 50));
    EXPECT_EQ(DWORD(ERROR_BUSY), GetLastError());
    DEBUG_SESSION_RESULT result = {};
    ASSERT_TRUE(m_package.WaitDebugEnd(60000, result));
    EXPECT_FALSE(m_package.WaitDebugEnd(0, result));
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
    // The next one may start now.
    EXPECT_TRUE(m_package.Debug(Debuggee(""), 50, result));
}

TEST_F(DebuggerModulesTest, ReportsFailuresWithTheirErrors)
{
    EXPECT_FALSE(m_package.StartDebug(Debuggee(""), 50));
    EXPECT_EQ(DWORD(ERROR_MOD_NOT_FOUND), GetLastError());
    EXPECT_FALSE(m_package.UnloadDebugger());
    EXPECT_FALSE(m_package.LoadDebugger("TLLOC.DLL", "NO-SUCH-DM.DLL"));
    EXPECT_EQ(nullptr, GetModuleHandleA("TLLOC.DLL"));

    ASSERT_TRUE(m_package.LoadDebugger());
    EXPECT_FALSE(m_package.StartDebug(ExeDirectory() + "no-such-program.exe", 50));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST_F(DebuggerModulesTest, EachLoadIsUndoneByOneUnload)
{
    ASSERT_TRUE(m_package.LoadDebugger());
    ASSERT_TRUE(m_package.LoadDebugger());
    ASSERT_TRUE(m_package.UnloadDebugger());
    EXPECT_NE(nullptr, GetModuleHandleA("DM.DLL"));
    ASSERT_TRUE(m_package.UnloadDebugger());
    EXPECT_EQ(nullptr, GetModuleHandleA("DM.DLL"));
    EXPECT_EQ(nullptr, GetModuleHandleA("TLLOC.DLL"));
}

} // namespace
