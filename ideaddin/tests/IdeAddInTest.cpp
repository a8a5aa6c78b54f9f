// The add-in object through the real COM path: created, connected and
// disconnected by the stand-in IDE, printing through its worker window.
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AddInDirectory.h"
#include "IdeAddInLib.h"
#include "ImportHook.h"
#include "IniFile.h"
#include "QuillmarHost.h"

namespace
{

const char kConnected[] = "msdev: add-in Quillmar.IdeAddIn connected, cookie 1";
const char kButtonAdded[] = "msdev: toolbar button added: QuillmarSettings (glyph button)";

int ToolbarAdded()
{
    return CIniFile(UserIniFile().c_str()).GetInt("Status", "ToolbarAdded", -1);
}

BOOL CALLBACK FindWorkerWindow(HWND window, LPARAM found)
{
    char className[64] = {};
    GetClassNameA(window, className, sizeof(className));
    if (std::string(className) != "Quillmar Worker Window Class")
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// Hands text to the add-in's worker window the way its GUI-thread bridge
// does: a heap copy (the C runtime's heap, which the add-in shares) posted
// with WM_OUTPUTSTRING; the buffer goes to posted when asked for.
bool PostOutput(const std::string& text, void** posted = nullptr)
{
    HWND window = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindWorkerWindow, reinterpret_cast<LPARAM>(&window));
    if (window == nullptr)
        return false;
    char* buffer = new char[text.size() + 1];
    memcpy(buffer, text.c_str(), text.size() + 1);
    if (PostMessageA(window, WM_USER + 2, reinterpret_cast<WPARAM>(buffer), 0))
    {
        if (posted != nullptr)
            *posted = buffer;
        return true;
    }
    delete[] buffer;
    return false;
}

// The blocks that the add-in gives back to the C runtime, noted on the way.
// Other threads of the add-in free too.
CImportHook* g_free = nullptr;
std::mutex g_freedLock;
std::vector<void*> g_freed;
void __cdecl NotingFree(void* block)
{
    {
        std::lock_guard<std::mutex> lock(g_freedLock);
        g_freed.push_back(block);
    }
    reinterpret_cast<void(__cdecl*)(void*)>(g_free->GetSavedAddress())(block);
}

class IdeAddInTest : public QuillmarTest
{
};

TEST_F(IdeAddInTest, ConnectionRegistersItselfAndTheSettingsCommand)
{
    CQuillmarHost host;
    EXPECT_TRUE(host.Run({"connect"}));
    const std::vector<std::string> lines = host.Lines();
    EXPECT_TRUE(ContainsLine(lines, "msdev: add-in info: cookie 1, medium bitmap 203 (32x16, 4 bits), "
                                    "large bitmap 202 (64x32, 4 bits)"));
    EXPECT_TRUE(ContainsLine(lines, "msdev: command added: QuillmarSettings, button text \"Settings\", status bar "
                                    "\"Symbol server settings\", tool tip \"Symbol Server Settings\", method "
                                    "SettingsCommand, glyph 0"));
    EXPECT_TRUE(ContainsLine(lines, kConnected));
    EXPECT_EQ(1, host.Application().GetRefCount());
    EXPECT_TRUE(host.Run({"disconnect"}));
    EXPECT_EQ(0, host.Application().GetRefCount());
}

TEST_F(IdeAddInTest, ButtonIsAddedAfterTheConnectionOncePerUser)
{
    {
        CQuillmarHost host;
        EXPECT_TRUE(host.Run({"connect", "disconnect"}));
        const std::vector<std::string> lines = host.Lines();
        // Posted by the connection, so added once it is complete.
        EXPECT_LT(IndexOfLine(lines, kConnected), IndexOfLine(lines, kButtonAdded));
        EXPECT_EQ(1, ToolbarAdded());
    }
    {
        CQuillmarHost host;
        EXPECT_TRUE(host.Run({"connect", "disconnect"}));
        EXPECT_TRUE(ContainsLine(host.Lines(), kConnected));
        EXPECT_FALSE(ContainsLine(host.Lines(), kButtonAdded));
        EXPECT_EQ(1, ToolbarAdded());
    }
    {
        // Unloaded for good: the next connection adds the button again.
        CQuillmarHost host;
        EXPECT_TRUE(host.Run({"connect", "disconnect lasttime"}));
        EXPECT_EQ(0, ToolbarAdded());
    }
    {
        CQuillmarHost host;
        EXPECT_TRUE(host.Run({"connect"}));
        EXPECT_TRUE(ContainsLine(host.Lines(), kButtonAdded));
    }
}

TEST_F(IdeAddInTest, FailedButtonLeavesTheFlagUnset)
{
    CQuillmarHost host;
    EXPECT_TRUE(host.Run({"fail AddCommandBarButton 0x80004005", "connect", "disconnect"}));
    EXPECT_TRUE(ContainsLine(host.Lines(), kConnected));
    EXPECT_NE(1, ToolbarAdded());
}

TEST_F(IdeAddInTest, ConnectionFailsWhenTheIdeRefusesItsInfoOrItsCommand)
{
    for (const char* failure : {"fail SetAddInInfo 0x80004005", "fail AddCommand 0x80004005", "fail AddCommand refuse"})
    {
        CQuillmarHost host;
        EXPECT_TRUE(host.Run({failure, "connect"}));
        EXPECT_TRUE(ContainsLine(host.Lines(), "msdev: add-in Quillmar.IdeAddIn did not connect (00000000)"))
            << failure;
        EXPECT_EQ(0, host.Application().GetRefCount()) << failure;
        EXPECT_EQ(S_OK, AddIn().CanUnloadNow()) << failure;
    }
}

TEST_F(IdeAddInTest, RefusedConnectionLeavesTheModuleFreeToUnload)
{
    // Refused by the IDE after the engine started, or by the engine itself
    // for want of qx3trap.dll; disconnected afterwards or not. The probe
    // unloads the module as COM would; a thread left running would hold
    // its unloading for ever.
    for (const bool withHookLibrary : {true, false})
    {
        for (const char* after : {"", "disconnect"})
        {
            CTempDir dir;
            ASSERT_TRUE(CopyFileA(AddIn().File("qx3ide.dll").c_str(), dir.File("qx3ide.dll").c_str(), FALSE));
            if (withHookLibrary)
            {
                ASSERT_TRUE(CopyFileA(AddIn().File("qx3trap.dll").c_str(), dir.File("qx3trap.dll").c_str(), FALSE));
            }
            EXPECT_EQ(0, RunProgram("addin_unload_probe.exe", "\"" + dir.Path() + "\" " + after, 30000))
                << (withHookLibrary ? "with" : "without") << " qx3trap.dll, " << after;
        }
    }
}

TEST_F(IdeAddInTest, OutputTextIsPrintedLineByLineAndLongLinesInPiecesAndAFailedPrintStopsNoLaterLine)
{
    CQuillmarHost host;
    ASSERT_TRUE(host.Run({"connect", "echo start"}));
    const std::string longLine(1500, 'x');
    ASSERT_TRUE(PostOutput("QUILLM: first\n\nQUILLM: second\n" + longLine + "\nQUILLM: last"));
    ASSERT_TRUE(host.Run({"pump"}));
    const std::vector<std::string> lines = host.Lines();
    const size_t start = IndexOfLine(lines, "msdev: start");
    ASSERT_EQ(start + 6, lines.size());
    EXPECT_EQ("QUILLM: first", lines[start + 1]);
    EXPECT_EQ("QUILLM: second", lines[start + 2]);
    EXPECT_EQ(std::string(1023, 'x'), lines[start + 3]);
    EXPECT_EQ(std::string(477, 'x'), lines[start + 4]);
    EXPECT_EQ("QUILLM: last", lines[start + 5]);

    ASSERT_TRUE(host.Run({"fail PrintToOutputWindow 0x80004005"}));
    ASSERT_TRUE(PostOutput("one\ntwo\n"));
    ASSERT_TRUE(host.Run({"pump", "fail PrintToOutputWindow off"}));
    ASSERT_TRUE(PostOutput("three\n"));
    ASSERT_TRUE(host.Run({"pump"}));
    const std::vector<std::string> after = host.Lines();
    EXPECT_EQ(2u, static_cast<size_t>(std::count(after.begin(), after.end(),
                                                 "msdev: IApplication::PrintToOutputWindow fails with 80004005")));
    EXPECT_TRUE(ContainsLine(after, "three"));
}

// An outer object owns the add-in's identity: it gets only IUnknown at
// creation, and the add-in's interfaces answer to it.
class COuter : public IUnknown
{
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (IsEqualIID(iid, IID_IUnknown))
        {
            *object = this;
            AddRef();
            return S_OK;
        }
        return m_inner != nullptr ? m_inner->QueryInterface(iid, object) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++m_refs); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--m_refs); }

    IUnknown* m_inner = nullptr;
    long m_refs = 1;
};

TEST_F(IdeAddInTest, TextsStillQueuedWhenTheWorkerWindowGoesAreFreed)
{
    CQuillmarHost host;
    ASSERT_TRUE(host.Run({"connect", "echo start"}));
    CImportHook noting(AddIn().Module(), "msvcrt.dll", "free", reinterpret_cast<void*>(&NotingFree));
    ASSERT_TRUE(noting.IsInstalled()) << noting.GetError();
    g_free = &noting;
    g_freed.clear();
    std::vector<void*> posted(3);
    for (void*& buffer : posted)
        ASSERT_TRUE(PostOutput("pending\n", &buffer));
    // The window goes before anything is pumped: the texts are never printed.
    ASSERT_TRUE(host.Run({"disconnect"}));
    EXPECT_FALSE(ContainsLine(host.Lines(), "pending"));
    std::lock_guard<std::mutex> lock(g_freedLock);
    for (void* buffer : posted)
        EXPECT_NE(g_freed.end(), std::find(g_freed.begin(), g_freed.end(), buffer));
}

TEST_F(IdeAddInTest, AggregatedObjectAnswersThroughItsOuterObject)
{
    COuter outer;
    void* refused = nullptr;
    EXPECT_EQ(CLASS_E_NOAGGREGATION,
              CoCreateInstance(CLSID_IdeAddIn, &outer, CLSCTX_INPROC_SERVER, IID_ICommands, &refused));
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_IdeAddIn, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                     reinterpret_cast<void**>(&outer.m_inner)));
    ICommands* commands = nullptr;
    ASSERT_EQ(S_OK, outer.QueryInterface(IID_ICommands, reinterpret_cast<void**>(&commands)));
    IUnknown* identity = nullptr;
    ASSERT_EQ(S_OK, commands->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)));
    EXPECT_EQ(static_cast<IUnknown*>(&outer), identity);
    identity->Release();
    commands->Release();
    outer.m_inner->Release();
    EXPECT_EQ(S_OK, AddIn().CanUnloadNow());
}

TEST_F(IdeAddInTest, CommandsDispatchKnowsTheSettingsCommandByNameAndKeepsTheModuleLoaded)
{
    IDispatch* commands = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_IdeAddIn, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                     reinterpret_cast<void**>(&commands)));
    EXPECT_EQ(S_FALSE, AddIn().CanUnloadNow());
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"SettingsCommand")};
    DISPID id = 0;
    EXPECT_EQ(S_OK, commands->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
    EXPECT_EQ(1, id);
    // Not connected: the command does nothing and says S_OK.
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(S_OK,
              commands->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
    commands->Release();
    EXPECT_EQ(S_OK, AddIn().CanUnloadNow());
}

} // namespace
