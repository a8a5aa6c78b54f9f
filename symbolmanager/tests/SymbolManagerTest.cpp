// ISymbolManager::GetSymbols through COM: the test program is the client, the
// registered qx3fetch.exe the server, and every call crosses the proxy/stub.
#include <winsock2.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ComTestSupport.h"
#include "HeldStore.h"
#include "ScopedHandle.h"
#include "TestSupport.h"

namespace
{

std::string StartOfLog(const std::string& image)
{
    return "QUILLM: File: " + image + "\nQUILLM: Checking symbols...\n";
}

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

class SymbolManagerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(SamplesDir().empty()) << "QX3_SAMPLES names the sample directory";
        ASSERT_HRESULT_SUCCEEDED(m_apartment.Result());
        ASSERT_HRESULT_SUCCEEDED(CreateSymbolManager(m_manager));
    }

    // One call; found and log are set to values the server must overwrite.
    HRESULT Call(DWORD handle, DWORD pid, const wchar_t* fileName, const wchar_t* symbolPath, const wchar_t* destPath,
                 BOOL useFileExt)
    {
        m_found = 7;
        return m_manager->GetSymbols(handle, pid, const_cast<LPWSTR>(fileName), const_cast<LPWSTR>(symbolPath),
                                     const_cast<LPWSTR>(destPath), useFileExt, &m_found, m_log.Receive());
    }
    HRESULT CallByName(const std::string& image, const std::string& symbolPath, BOOL useFileExt = FALSE)
    {
        return Call(0, 0, Widen(image).c_str(), Widen(symbolPath).c_str(), Widen(m_dest.Path()).c_str(), useFileExt);
    }
    std::string Log() const { return m_log.Get() != nullptr ? Narrow(m_log.Get()) : std::string(); }

    CComApartment m_apartment;
    CScopedComPtr<ISymbolManager> m_manager;
    CTempDir m_dest;
    BOOL m_found = 7;
    CTaskString m_log;
};

TEST_F(SymbolManagerTest, NoFileHandleAndNoFileNameIsAnInvalidArgument)
{
    for (DWORD noHandle : {0u, 0xFFFFFFFFu})
    {
        EXPECT_EQ(E_INVALIDARG, Call(noHandle, GetCurrentProcessId(), nullptr, L"C:\\symbols", L"C:\\dest", FALSE));
        EXPECT_EQ(0, m_found);
        EXPECT_EQ(nullptr, m_log.Get());
    }
}

TEST_F(SymbolManagerTest, RequestsTheEngineRefusesFailWithoutALog)
{
    // An empty (not null) file name reaches the engine, which refuses it; so
    // does a null destination, taken as empty.
    const std::wstring symbols = Widen(SampleSymbolsDir());
    EXPECT_EQ(E_FAIL, Call(0, 0, L"", symbols.c_str(), Widen(m_dest.Path()).c_str(), FALSE));
    EXPECT_EQ(0, m_found);
    EXPECT_EQ(nullptr, m_log.Get());
    EXPECT_EQ(E_FAIL, Call(0, 0, Widen(SampleImage("nb10.dll")).c_str(), symbols.c_str(), nullptr, FALSE));
    EXPECT_EQ(0, m_found);
    EXPECT_EQ(nullptr, m_log.Get());
}

TEST_F(SymbolManagerTest, CompletedRequestsReturnTheWholeLogAsOneString)
{
    ASSERT_EQ(S_OK, CallByName(SampleImage("nb10.dll"), SampleSymbolsDir()));
    EXPECT_EQ(1, m_found);
    ASSERT_NE(nullptr, m_log.Get()) << "the log string must arrive through the proxy";
    const std::string log = Log();
    EXPECT_TRUE(StartsWith(log, StartOfLog(SampleImage("nb10.dll")))) << log;
    const std::string copied = "QUILLM: Copying to " + m_dest.Path() + "\\nb10.pdb\n";
    ASSERT_GE(log.size(), copied.size());
    EXPECT_EQ(copied, log.substr(log.size() - copied.size())) << "nothing follows the last line";
    EXPECT_EQ(std::string::npos, log.find('\r'));
    EXPECT_TRUE(FileExists(m_dest.File("nb10.pdb")));

    // Any non-zero useFileExt is true (the PDB in the destination itself
    // would count as already there).
    ASSERT_TRUE(DeleteFileA(m_dest.File("nb10.pdb").c_str()));
    ASSERT_EQ(S_OK, CallByName(SampleImage("nb10.dll"), SampleSymbolsDir(), -1));
    EXPECT_TRUE(FileExists(m_dest.File("dll\\nb10.pdb")));

    // Without usable symbols the request completes too, not found.
    CTempDir empty;
    ASSERT_EQ(S_OK, CallByName(SampleImage("exports.dll"), empty.Path()));
    EXPECT_EQ(0, m_found);
    EXPECT_TRUE(StartsWith(Log(), StartOfLog(SampleImage("exports.dll")))) << Log();
}

TEST_F(SymbolManagerTest, ByHandleRequestTakesTheNameFromTheClientsHandle)
{
    CScopedHandle file(CreateFileA(SampleImage("nb10.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file.IsValid());
    const DWORD handle = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(file.Get()));
    ASSERT_EQ(S_OK, Call(handle, GetCurrentProcessId(), L"C:\\not\\this.dll", Widen(SampleSymbolsDir()).c_str(),
                         Widen(m_dest.Path()).c_str(), FALSE));
    EXPECT_EQ(1, m_found);
    EXPECT_EQ(0, lstrcmpiA(StartOfLog(SampleImage("nb10.dll")).c_str(),
                           Log().substr(0, StartOfLog(SampleImage("nb10.dll")).size()).c_str()))
        << Log();
    EXPECT_TRUE(FileExists(m_dest.File("nb10.pdb")));
}

TEST_F(SymbolManagerTest, CharactersOutsideTheCodePageFollowItsRulesBothWays)
{
    // U+4E2D and U+0416 lie outside the Western code pages; U+00E9 lies inside.
    const std::wstring name = Widen(m_dest.Path()) + L"\\\x00E9\x4E2D\x0416.dll";
    ASSERT_EQ(S_OK, Call(0, 0, name.c_str(), Widen(SampleSymbolsDir()).c_str(), Widen(m_dest.Path()).c_str(), FALSE));
    ASSERT_NE(nullptr, m_log.Get());
    const std::wstring expected = Widen("QUILLM: File: " + Narrow(name) + "\n");
    EXPECT_EQ(expected, std::wstring(m_log.Get()).substr(0, expected.size()));
}

// qx3fetch's symbol library fetches over HTTPS from the http fixture's
// "tlssamples" server, whose test CA the tls fixture made trusted in the
// prefix: every symbol kind lands whole in the destination.
TEST_F(SymbolManagerTest, FetchesEverySymbolKindFromAnHttpsStore)
{
    const unsigned port = HttpServerPort("tlssamples");
    ASSERT_NE(0u, port) << "no servers in QX3_TESTDIR\\http-servers.ini: run through ctest";
    CTempDir cache;
    const std::string path = "srv*" + cache.Path() + "*https://localhost:" + std::to_string(port) + "/store";
    for (const char* image : {"rsds.exe", "nb10.dll", "dbgcv.dll", "dbgpdb.dll"})
    {
        SCOPED_TRACE(image);
        ASSERT_EQ(S_OK, CallByName(SampleImage(image), path));
        EXPECT_EQ(1, m_found) << Log();
        ASSERT_FALSE(SampleSymbolFiles(image).empty());
        for (const std::string& file : SampleSymbolFiles(image))
            EXPECT_EQ(ReadFileBytes(SampleSymbolsDir() + "\\" + file), ReadFileBytes(m_dest.File(file))) << file;
    }
}

TEST_F(SymbolManagerTest, ThreeClientProcessesCallingAtOnceEachGetTheirOwnLines)
{
    // Each client makes 200 calls for its own image and checks every log.
    HANDLE processes[3] = {};
    std::vector<std::unique_ptr<CScopedHandle>> owners;
    const char* images[3] = {"nb10.dll", "rsds.exe", "dbgcv.dll"};
    for (int i = 0; i < 3; ++i)
    {
        processes[i] = StartProgram("\"" + ExeDirectory() + "qx3fetch_client.exe\" 200 \"" + SampleImage(images[i]) +
                                    "\" \"" + SampleSymbolsDir() + "\" \"" + m_dest.File(images[i]) + "\"");
        ASSERT_NE(nullptr, processes[i]);
        owners.push_back(std::make_unique<CScopedHandle>(processes[i]));
    }
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(3, processes, TRUE, 240000));
    for (int i = 0; i < 3; ++i)
    {
        DWORD code = 99;
        GetExitCodeProcess(processes[i], &code);
        EXPECT_EQ(0u, code) << images[i];
    }
}

} // namespace

// ISymbolPrefetch is a second interface of the same object, marshalled by the
// same proxy/stub; asking for it changes nothing for ISymbolManager's callers.
// Ending the object mid-prefetch leaves no partial file in the store, and the
// next object fetches and copies as ever.
TEST_F(SymbolManagerTest, PrefetchesThroughItsOwnInterfaceAndEndsCleanly)
{
    const unsigned port = HttpServerPort("tlssamples");
    ASSERT_NE(0u, port) << "no servers in QX3_TESTDIR\\http-servers.ini: run through ctest";
    CTempDir cache;
    const std::string path = "srv*" + cache.Path() + "*https://localhost:" + std::to_string(port) + "/store";
    {
        CScopedComPtr<ISymbolPrefetch> prefetch;
        ASSERT_EQ(S_OK, m_manager->QueryInterface(IID_ISymbolPrefetch, prefetch.ReceiveVoid()));
        EXPECT_EQ(E_INVALIDARG, prefetch->Prefetch(0, 0, nullptr, const_cast<LPWSTR>(Widen(path).c_str()), nullptr, 1, nullptr, 0));
        EXPECT_EQ(S_OK, prefetch->Prefetch(0, 0, const_cast<LPWSTR>(Widen(SampleImage("rsds.exe")).c_str()),
                                           const_cast<LPWSTR>(Widen(path).c_str()), nullptr, 1, nullptr, 2));
        EXPECT_EQ(S_OK, prefetch->CancelPrefetch());
        // By the client's handle, as the add-in names the program.
        CScopedHandle file(CreateFileA(SampleImage("dbgcv.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file.IsValid());
        EXPECT_EQ(S_OK, prefetch->Prefetch(HandleToULong(file.Get()), GetCurrentProcessId(), nullptr,
                                           const_cast<LPWSTR>(Widen(path).c_str()), nullptr, 1, nullptr, 2));
        EXPECT_EQ(S_OK, prefetch->Prefetch(0, 0, const_cast<LPWSTR>(Widen(SampleImage("nb10.dll")).c_str()),
                                           const_cast<LPWSTR>(Widen(path).c_str()), nullptr, 1, nullptr, 2));
    }
    m_manager.Reset();
    for (const std::string& file : ListFiles(cache.Path()))
        EXPECT_EQ(std::string::npos, file.find(".tmp")) << file;

    ASSERT_HRESULT_SUCCEEDED(CreateSymbolManager(m_manager));
    ASSERT_EQ(S_OK, CallByName(SampleImage("nb10.dll"), path));
    EXPECT_EQ(1, m_found) << Log();
    EXPECT_TRUE(StartsWith(Log(), StartOfLog(SampleImage("nb10.dll"))));
}

// The image's own request never waits for a prefetch download of another
// file: with the prefetch's download held at its store, the request completes.
TEST_F(SymbolManagerTest, ImageRequestCompletesWhileThePrefetchDownloadsAnotherFile)
{
    CHeldStore store;
    ASSERT_TRUE(store.IsListening());
    CTempDir cache;
    CScopedComPtr<ISymbolPrefetch> prefetch;
    ASSERT_EQ(S_OK, m_manager->QueryInterface(IID_ISymbolPrefetch, prefetch.ReceiveVoid()));
    ASSERT_EQ(S_OK, prefetch->Prefetch(0, 0, const_cast<LPWSTR>(Widen(SampleImage("rsds.exe")).c_str()),
                                       const_cast<LPWSTR>(Widen(store.SymbolPath(cache.Path())).c_str()), nullptr, 1, nullptr, 2));
    ASSERT_TRUE(store.WaitArrived(20000));
    EXPECT_EQ(S_OK, CallByName(SampleImage("nb10.dll"), SampleSymbolsDir()));
    EXPECT_EQ(1, m_found) << Log();
    EXPECT_TRUE(store.IsHolding());
    EXPECT_EQ(S_OK, prefetch->CancelPrefetch());
}
