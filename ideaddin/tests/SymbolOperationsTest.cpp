// CSymbolOperations against the registered qx3fetch, through the proxy/stub.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "ComTestSupport.h"
#include "ImportSwap.h"
#include "ScopedHandle.h"
#include "SymbolOperations.h"
#include "SymbolServerFixture.h"
#include "TestSupport.h"

namespace
{

// CoCreateInstance that refuses its first call as COM does when the
// activation meets a server whose class object has just been withdrawn.
LONG g_refusals = 0;
CImportSwap* g_activation = nullptr;
HRESULT WINAPI RefusingOnceCoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object)
{
    if (InterlockedIncrement(&g_refusals) == 1)
        return E_FAIL;
    return g_activation->Original<decltype(&CoCreateInstance)>()(clsid, outer, context, iid, object);
}

class SymbolOperationsTest : public SymbolServerFixture
{
protected:
    bool Request(const std::string& image, const std::string& symbolPath)
    {
        CScopedHandle file(OpenImage(image));
        m_found = true;
        m_log = "stale";
        return m_operations.GetSymbols(HandleToULong(file.Get()), GetCurrentProcessId(), symbolPath, Dest(), true,
                                       m_found, m_log);
    }

    CSymbolOperations m_operations;
    bool m_found = true;
    std::string m_log;
};

TEST_F(SymbolOperationsTest, AnswersWithTheServersFoundFlagAndLogOnlyWhenStartedAndTheServerSucceeds)
{
    EXPECT_FALSE(Request("nb10.dll", StorePath()));
    EXPECT_FALSE(m_found);
    EXPECT_EQ("", m_log);

    ASSERT_TRUE(m_operations.Start());
    ASSERT_TRUE(Request("nb10.dll", StorePath()));
    EXPECT_TRUE(m_found);
    EXPECT_EQ(0u, m_log.find("QUILLM: File: ")) << m_log;
    EXPECT_NE(std::string::npos, m_log.find("nb10.dll\nQUILLM: Checking symbols...\n")) << m_log;
    EXPECT_TRUE(FileExists(Dest() + "\\dll\\nb10.pdb"));

    ASSERT_TRUE(Request("bare.exe", StorePath()));
    EXPECT_FALSE(m_found);
    EXPECT_EQ(0u, m_log.find("QUILLM: File: ")) << m_log;

    // The server refuses a request without a symbol path.
    EXPECT_FALSE(Request("nb10.dll", ""));
    EXPECT_FALSE(m_found);
    EXPECT_EQ("", m_log);
}

TEST_F(SymbolOperationsTest, ServerThatDiedIsReplacedForTheNextRequest)
{
    ASSERT_TRUE(m_operations.Start());
    ASSERT_TRUE(Request("nb10.dll", StorePath()));
    const DWORD first = KillTheServer();

    ASSERT_TRUE(Request("dbgcv.dll", StorePath())) << "the request after the server died";
    EXPECT_TRUE(m_found) << m_log;
    EXPECT_TRUE(Request("rsds.exe", StorePath()));
    EXPECT_TRUE(m_found) << m_log;
    const std::vector<DWORD> servers = ServerProcessIds();
    ASSERT_EQ(1u, servers.size());
    EXPECT_NE(first, servers.front());
}

// Under Wine the activation at the idle exit's instant is refused with
// E_FAIL; a session must not be left without a server for it.
TEST_F(SymbolOperationsTest, ActivationRefusedByAnEndingServerIsMadeAgain)
{
    CImportSwap swap("ole32.dll", "CoCreateInstance", reinterpret_cast<const void*>(&RefusingOnceCoCreateInstance));
    ASSERT_TRUE(swap.IsActive());
    g_activation = &swap;
    ASSERT_TRUE(m_operations.Start());
    EXPECT_TRUE(Request("nb10.dll", StorePath()));
    EXPECT_TRUE(m_found) << m_log;
    m_operations.Stop();
    g_activation = nullptr;
    EXPECT_EQ(2, g_refusals);
}

} // namespace
