// CSymbolHandler with the registered qx3fetch behind it and a test window as
// the GUI-thread bridge's target.
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "HeldStore.h"
#include "OutputWindow.h"
#include "ScopedHandle.h"
#include "SymbolHandler.h"
#include "SymbolServerFixture.h"
#include "TestSupport.h"

namespace
{

class SymbolHandlerTest : public SymbolServerFixture
{
protected:
    SymbolHandlerConfiguration Configured(bool enabled, bool reportProgress)
    {
        SymbolHandlerConfiguration config;
        config.Enabled = enabled;
        config.ReportProgress = reportProgress;
        config.SymPath = StorePath();
        config.DestDir = Dest();
        return config;
    }
    // One request for a sample image; what it showed is in m_window.
    void Request(const std::string& image)
    {
        CScopedHandle file(OpenImage(image));
        m_handler.GetSymbols(file.Get());
        m_window.PumpPending();
    }
    bool Copied() const { return FileExists(Dest() + "\\dll\\nb10.pdb"); }
    // Starts the handler with the store as its only server and a request
    // for a sample image on another thread (the debugger's), which sets
    // m_done when it returns; true once the request has reached the store.
    bool StartHeldRequest(CHeldStore& store)
    {
        EXPECT_TRUE(m_handler.Init());
        SymbolHandlerConfiguration held = Configured(true, true);
        held.SymPath = store.SymbolPath(Dest() + "\\cache");
        m_handler.SetConfiguration(held);
        m_debugger = std::thread(
            [this]
            {
                CScopedHandle file(OpenImage("nb10.dll"));
                m_handler.GetSymbols(file.Get());
                m_done = true;
            });
        return store.WaitArrived(60000);
    }
    // The test's store has gone by now, and with it any hold.
    void TearDown() override
    {
        if (m_debugger.joinable())
            m_debugger.join();
    }

    CSymbolHandler m_handler;
    COutputWindow m_window;
    std::thread m_debugger;
    std::atomic<bool> m_done{false};
};

TEST_F(SymbolHandlerTest, ConfigurationBeforeInitIsIgnored)
{
    SymbolHandlerConfiguration config = Configured(false, false);
    EXPECT_FALSE(m_handler.GetConfiguration(config));
    EXPECT_FALSE(config.Enabled);
    m_handler.SetConfiguration(Configured(false, false));
    ASSERT_TRUE(m_handler.Init());
    ASSERT_TRUE(m_handler.GetConfiguration(config));
    EXPECT_TRUE(config.Enabled);
    EXPECT_TRUE(config.ReportProgress);
    EXPECT_EQ("", config.SymPath);
    EXPECT_EQ("", config.DestDir);
    EXPECT_TRUE(config.UseFileExt);
}

TEST_F(SymbolHandlerTest, ShowsTheServersLogUnchangedOnlyWhenReportingProgress)
{
    ASSERT_TRUE(m_handler.Init());
    m_handler.SetConfiguration(Configured(true, false));
    Request("nb10.dll");
    EXPECT_TRUE(Copied());
    EXPECT_TRUE(m_window.Texts().empty());

    m_handler.SetConfiguration(Configured(true, true));
    Request("dbgcv.dll");
    EXPECT_TRUE(FileExists(Dest() + "\\dll\\dbgcv.dbg"));
    ASSERT_EQ(1u, m_window.Texts().size());
    EXPECT_EQ(0u, m_window.Texts()[0].find("QUILLM: File: "));
    EXPECT_EQ('\n', m_window.Texts()[0].back());
    // Not found is shown the same way.
    Request("bare.exe");
    EXPECT_EQ(2u, m_window.Texts().size());
}

TEST_F(SymbolHandlerTest, DisabledWithoutPathsOrClosedRequestsNothingAndStartsAgain)
{
    ASSERT_TRUE(m_handler.Init());
    m_handler.SetConfiguration(Configured(false, true));
    Request("nb10.dll");
    SymbolHandlerConfiguration config = Configured(true, true);
    config.SymPath.clear();
    m_handler.SetConfiguration(config);
    Request("nb10.dll");
    config = Configured(true, true);
    config.DestDir.clear();
    m_handler.SetConfiguration(config);
    Request("nb10.dll");
    m_handler.SetConfiguration(Configured(true, true));
    m_handler.Close();
    Request("nb10.dll");
    EXPECT_FALSE(Copied());
    EXPECT_TRUE(m_window.Texts().empty());

    ASSERT_TRUE(m_handler.Init());
    Request("nb10.dll");
    EXPECT_TRUE(Copied());
    EXPECT_EQ(1u, m_window.Texts().size());
}

TEST_F(SymbolHandlerTest, RequestHeldByTheStoreHoldsNeitherNewSettingsNorTheClose)
{
    CHeldStore store;
    ASSERT_TRUE(store.IsListening());
    ASSERT_TRUE(StartHeldRequest(store));
    // The GUI thread's new settings apply at once, to the next request; the
    // held one goes on with those it started with (its log is shown).
    m_handler.SetConfiguration(Configured(true, false));
    EXPECT_FALSE(m_done);
    SymbolHandlerConfiguration now;
    ASSERT_TRUE(m_handler.GetConfiguration(now));
    EXPECT_FALSE(now.ReportProgress);
    store.Release();
    m_debugger.join();
    m_window.PumpPending();
    EXPECT_EQ(1u, m_window.Texts().size());
    Request("nb10.dll");
    EXPECT_TRUE(Copied());
    EXPECT_EQ(1u, m_window.Texts().size());
}

TEST_F(SymbolHandlerTest, CloseReleasesAHeldRequestAndTheHandlerStartsAgain)
{
    CHeldStore store;
    ASSERT_TRUE(store.IsListening());
    ASSERT_TRUE(StartHeldRequest(store));
    m_handler.Close();
    // Neither the closing thread nor the requesting one waited for the store.
    m_debugger.join();
    EXPECT_TRUE(store.IsHolding());
    EXPECT_TRUE(m_handler.IsWorkerAlive());
    store.Release();
    // Started again, the handler first ends the thread still finishing the
    // abandoned request.
    ASSERT_TRUE(m_handler.Init());
    m_handler.SetConfiguration(Configured(true, true));
    Request("nb10.dll");
    EXPECT_TRUE(Copied());
    m_window.PumpPending();
    EXPECT_EQ(1u, m_window.Texts().size());
}

} // namespace
