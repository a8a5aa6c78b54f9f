// qx3fetch.exe as a process: its registration switches, its trace switch, and
// its lifetime under COM (idle exit, holding clients, activations that race
// with the exit, simultaneous first activations).
#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ComTestSupport.h"
#include "ScopedRegKey.h"
#include "TestSupport.h"

namespace
{

const char kClsidKey[] = "CLSID\\{D8D37A73-85BF-44B5-AE68-3B2A8B178F71}";
const char kAppIdKey[] = "AppID\\{CB3E2565-8587-4150-B8A0-51B6D87683DD}";
const char kAppIdValue[] = "{CB3E2565-8587-4150-B8A0-51B6D87683DD}";
const char kTypeLibKey[] = "TypeLib\\{7C9E5B37-E3C2-4EDA-B842-6D8A552980A7}";
const char kInterfaceKey[] = "Interface\\{E1370703-CE16-48A9-B87A-1889E8A23825}";

// Longest a registration run may take.
const DWORD kRunMs = 60000;

// A string value of HKCR\path ("" names the default value); "<none>" if absent.
std::string StringValue(const std::string& path, const char* name = "")
{
    CScopedRegKey key;
    if (key.Open(HKEY_CLASSES_ROOT, path.c_str(), KEY_READ) != ERROR_SUCCESS)
        return "<none>";
    char data[1024];
    DWORD size = sizeof(data) - 1;
    DWORD type = 0;
    if (RegQueryValueExA(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return "<none>";
    data[size] = '\0';
    return data;
}

// What registration may touch: the whole AppID tree, the class, the ProgIDs,
// the type library and the interface (the proxy/stub's, which must survive).
std::map<std::string, std::string> Snapshot()
{
    std::map<std::string, std::string> entries;
    for (const char* path :
         {"AppID", kClsidKey, "Quillmar.SymbolManager.1", "Quillmar.SymbolManager", kTypeLibKey, kInterfaceKey})
    {
        for (const auto& [key, value] : ClassesTree(path))
            entries[std::string(path) + "\\" + key] = value;
    }
    return entries;
}

std::string ServerPath()
{
    return ExeDirectory() + "qx3fetch.exe";
}

// Each test leaves the server registered as the fixture registered it.
class ServerRegistrationTest : public ::testing::Test
{
protected:
    void TearDown() override { EXPECT_EQ(0, RunProgram(ServerPath(), "/RegServer", kRunMs)); }
    void Unregister() { ASSERT_EQ(0, RunProgram(ServerPath(), "/UnregServer", kRunMs)); }
};

TEST_F(ServerRegistrationTest, RegServerWritesTheRegistrationAndUnregServerRemovesExactlyThat)
{
    // The switch in any letter case, after '-' or '/' (TearDown registers
    // with "/RegServer").
    Unregister();
    // Named one by one: a key that unregistration wrongly keeps would be in
    // both snapshots below.
    for (const char* owned : {kClsidKey, kAppIdKey, "AppID\\qx3fetch.exe", "Quillmar.SymbolManager.1",
                              "Quillmar.SymbolManager", kTypeLibKey})
        EXPECT_FALSE(ClassesKeyExists(owned)) << owned;
    const std::map<std::string, std::string> before = Snapshot();
    ASSERT_EQ(0, RunProgram(ServerPath(), "-regserver", kRunMs));

    char shortPath[MAX_PATH];
    ASSERT_NE(0u, GetShortPathNameA(ServerPath().c_str(), shortPath, MAX_PATH));
    EXPECT_EQ(0, lstrcmpiA(shortPath, StringValue(std::string(kClsidKey) + "\\LocalServer32").c_str()));
    EXPECT_EQ("SymbolManager Class", StringValue(kClsidKey));
    EXPECT_EQ(kAppIdValue, StringValue(kClsidKey, "AppID"));
    EXPECT_EQ("Quillmar.SymbolManager.1", StringValue(std::string(kClsidKey) + "\\ProgID"));
    EXPECT_EQ("Quillmar.SymbolManager", StringValue(std::string(kClsidKey) + "\\VersionIndependentProgID"));
    EXPECT_EQ("{7C9E5B37-E3C2-4EDA-B842-6D8A552980A7}", StringValue(std::string(kClsidKey) + "\\TypeLib"));
    EXPECT_EQ("SymbolManager", StringValue(kAppIdKey));
    EXPECT_EQ(kAppIdValue, StringValue("AppID\\qx3fetch.exe", "AppID"));
    EXPECT_EQ("SymbolManager Class", StringValue("Quillmar.SymbolManager.1"));
    EXPECT_EQ("{D8D37A73-85BF-44B5-AE68-3B2A8B178F71}", StringValue("Quillmar.SymbolManager.1\\CLSID"));
    EXPECT_EQ("SymbolManager Class", StringValue("Quillmar.SymbolManager"));
    EXPECT_EQ("{D8D37A73-85BF-44B5-AE68-3B2A8B178F71}", StringValue("Quillmar.SymbolManager\\CLSID"));
    EXPECT_EQ("Quillmar.SymbolManager.1", StringValue("Quillmar.SymbolManager\\CurVer"));
    EXPECT_TRUE(ClassesKeyExists(kTypeLibKey));

    Unregister();
    EXPECT_EQ(before, Snapshot());
    EXPECT_TRUE(ClassesKeyExists(kInterfaceKey)) << "the proxy/stub's registration stays";
}

TEST_F(ServerRegistrationTest, SwitchFollowedByMoreTextRunsAsAServerInstead)
{
    // A serving process holds the session's slot, so the process started
    // here, which finds no switch, waits for it and leaves.
    CComApartment apartment;
    CScopedComPtr<ISymbolManager> held;
    ASSERT_HRESULT_SUCCEEDED(CreateSymbolManager(held));
    Unregister();
    EXPECT_EQ(0, RunProgram(ServerPath(), "/RegServer /x", kRunMs));
    EXPECT_FALSE(ClassesKeyExists(kClsidKey));
    EXPECT_FALSE(ClassesKeyExists(kAppIdKey));
}

BOOL CALLBACK TakeFirstLanguage(HMODULE, LPCSTR, LPCSTR, WORD found, LONG_PTR language)
{
    *reinterpret_cast<WORD*>(language) = found;
    return FALSE;
}

// The language of one of the server's resources, so that a copy can have it
// replaced rather than added beside it.
WORD ResourceLanguage(const char* type, WORD id)
{
    WORD language = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
    HMODULE image = LoadLibraryExA(ServerPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (image == nullptr)
        return language;
    EnumResourceLanguagesA(image, type, MAKEINTRESOURCEA(id), TakeFirstLanguage, reinterpret_cast<LONG_PTR>(&language));
    FreeLibrary(image);
    return language;
}

// Copies the server to path, with one of its resources replaced by bytes.
bool CopyServer(const std::string& path, const char* type = nullptr, WORD id = 0, const std::string& bytes = "")
{
    if (!CopyFileA(ServerPath().c_str(), path.c_str(), FALSE))
        return false;
    if (type == nullptr)
        return true;
    HANDLE update = BeginUpdateResourceA(path.c_str(), FALSE);
    if (update == nullptr)
        return false;
    std::string data = bytes;
    const BOOL replaced = UpdateResourceA(update, type, MAKEINTRESOURCEA(id), ResourceLanguage(type, id), &data[0],
                                          static_cast<DWORD>(data.size()));
    return EndUpdateResourceA(update, !replaced) && replaced;
}

class ServerCopyTest : public ServerRegistrationTest
{
protected:
    CTempDir m_dir;
};

TEST_F(ServerCopyTest, RenamedServerNamesItsAppIdKeyAfterItself)
{
    Unregister();
    const std::string copy = m_dir.File("symfetch.exe");
    ASSERT_TRUE(CopyServer(copy));
    ASSERT_EQ(0, RunProgram(copy, "/RegServer", kRunMs));
    EXPECT_EQ(kAppIdValue, StringValue("AppID\\symfetch.exe", "AppID"));
    EXPECT_FALSE(ClassesKeyExists("AppID\\qx3fetch.exe"));
    ASSERT_EQ(0, RunProgram(copy, "/UnregServer", kRunMs));
    EXPECT_FALSE(ClassesKeyExists("AppID\\symfetch.exe"));
}

TEST_F(ServerCopyTest, ExitCodeIsTheServerRegistrationsResult)
{
    // The class script (101) and the type library decide /RegServer's exit
    // code; the switches' own script (100) does not; /UnregServer gives 0.
    const char kBrokenScript[] = "HKCR { broken";
    Unregister();
    const std::string brokenClassScript = m_dir.File("class\\qx3fetch.exe");
    const std::string brokenTypeLib = m_dir.File("typelib\\qx3fetch.exe");
    const std::string brokenSwitchScript = m_dir.File("switch\\qx3fetch.exe");
    for (const std::string& copy : {brokenClassScript, brokenTypeLib, brokenSwitchScript})
        ASSERT_TRUE(CreateDirectoryA(copy.substr(0, copy.rfind('\\')).c_str(), nullptr));
    ASSERT_TRUE(CopyServer(brokenClassScript, "REGISTRY", 101, kBrokenScript));
    ASSERT_TRUE(CopyServer(brokenTypeLib, "TYPELIB", 1, "not a type library"));
    ASSERT_TRUE(CopyServer(brokenSwitchScript, "REGISTRY", 100, kBrokenScript));

    EXPECT_EQ(static_cast<long>(DISP_E_EXCEPTION), RunProgram(brokenClassScript, "/RegServer", kRunMs));
    EXPECT_EQ(0, RunProgram(brokenClassScript, "/UnregServer", kRunMs));
    const long typeLibResult = RunProgram(brokenTypeLib, "/RegServer", kRunMs);
    EXPECT_TRUE(FAILED(static_cast<HRESULT>(typeLibResult)) && typeLibResult != -1) << std::hex << typeLibResult;
    ASSERT_EQ(0, RunProgram(brokenTypeLib, "/UnregServer", kRunMs));

    EXPECT_EQ(0, RunProgram(brokenSwitchScript, "/RegServer", kRunMs));
    EXPECT_FALSE(ClassesKeyExists(kClsidKey)) << "the broken script wrote nothing";
    EXPECT_EQ(kAppIdValue, StringValue("AppID\\qx3fetch.exe", "AppID")) << "the class script was applied";
}

TEST_F(ServerCopyTest, TraceSwitchBesideTheExeDecidesWhetherItsLogAppears)
{
    ASSERT_TRUE(CopyServer(m_dir.File("qx3fetch.exe")));
    ASSERT_TRUE(WriteFileBytes(m_dir.File("qx3.ini"), "[Debug]\r\nTrace=0\r\n"));
    ASSERT_EQ(0, RunProgram(m_dir.File("qx3fetch.exe"), "/UnregServer", kRunMs));
    EXPECT_FALSE(FileExists(m_dir.File("qx3fetch.log")));

    ASSERT_TRUE(WriteFileBytes(m_dir.File("qx3.ini"), "[Debug]\r\nTrace=1\r\n"));
    ASSERT_EQ(0, RunProgram(m_dir.File("qx3fetch.exe"), "/UnregServer", kRunMs));
    const std::vector<std::string> lines = SplitLines(ReadFileBytes(m_dir.File("qx3fetch.log")));
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(std::string::npos, lines.front().find("\tEntering WinMain()...\r\n")) << lines.front();
    bool exited = false;
    for (const std::string& line : lines)
        exited = exited || line.find("\tExiting WinMain()...\r\n") != std::string::npos;
    EXPECT_TRUE(exited);
}

// The server's life under COM. Each test starts without a server running.
class ServerLifetimeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_HRESULT_SUCCEEDED(m_apartment.Result());
        ASSERT_TRUE(WaitForNoServer(20000)) << "a server of an earlier test is still running";
    }
    // The server answers a cheap call (an invalid argument) of the object.
    static HRESULT Ping(ISymbolManager* manager)
    {
        BOOL found = 7;
        CTaskString log;
        return manager->GetSymbols(0, 0, nullptr, nullptr, nullptr, FALSE, &found, log.Receive());
    }
    CComApartment m_apartment;
};

TEST_F(ServerLifetimeTest, QuietPeriodRestartsAtEachReleaseAndTheServerEndsCleanly)
{
    // The client also keeps the class object itself: that does not keep the
    // server running, and the server must not trip over it as it ends.
    CScopedComPtr<IClassFactory> classObject;
    ASSERT_HRESULT_SUCCEEDED(CoGetClassObject(CLSID_SymbolManager, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory,
                                              classObject.ReceiveVoid()));
    CScopedHandle server(OpenTheServer(15000));
    ASSERT_TRUE(server.IsValid());
    for (int round = 0; round < 2; ++round)
    {
        {
            CScopedComPtr<ISymbolManager> manager;
            ASSERT_HRESULT_SUCCEEDED(CreateSymbolManager(manager));
            ASSERT_EQ(E_INVALIDARG, Ping(manager.Get()));
        }
        // The first release's quiet period would end 5 s from now: the
        // second object comes and goes within it.
        if (round == 0)
        {
            ASSERT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(server.Get(), 3000));
        }
    }
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(server.Get(), 5000))
        << "ended before 5 s had passed since the second release";
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(server.Get(), 15000)) << "did not end";
    DWORD exitCode = 1;
    ASSERT_TRUE(GetExitCodeProcess(server.Get(), &exitCode));
    EXPECT_EQ(0u, exitCode);
}

TEST_F(ServerLifetimeTest, ServerStaysUpWhileAClientHoldsAnObject)
{
    CScopedComPtr<ISymbolManager> manager;
    ASSERT_HRESULT_SUCCEEDED(CreateSymbolManager(manager));
    CScopedHandle server(OpenTheServer(15000));
    ASSERT_TRUE(server.IsValid());
    {
        // A second object comes and goes while the first is held.
        CScopedComPtr<ISymbolManager> other;
        ASSERT_HRESULT_SUCCEEDED(CreateSymbolManager(other));
    }
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(server.Get(), 8000));
    EXPECT_EQ(E_INVALIDARG, Ping(manager.Get()));
}

// Whether an activation was refused because it met the withdrawal of the
// class object: COM had found the class in the ending server and asked it for
// the class object a moment after it was withdrawn, so nothing was created
// there. A client asks again, and a new server serves it.
bool MetTheWithdrawal(HRESULT result)
{
    return result == E_FAIL || result == REGDB_E_CLASSNOTREG;
}

TEST_F(ServerLifetimeTest, ActivationAroundTheIdleExitIsServed)
{
    // Each round releases the last object, then activates again at a moment
    // around the server's exit: before the class object is withdrawn, during
    // the grace period, while the process winds down, and after it ended.
    // The moments are measured from this side, so any of them may land on
    // the withdrawal itself; only then may the activation be refused, and
    // asking once more must be served. An object once created must be served
    // by its server: no asking again after that.
    for (DWORD offset : {4900u, 5100u, 5400u, 5900u, 6400u, 7100u})
    {
        DWORD released = 0;
        HANDLE serverHandle = nullptr;
        {
            CScopedComPtr<ISymbolManager> manager;
            ASSERT_HRESULT_SUCCEEDED(CreateSymbolManager(manager)) << offset;
            serverHandle = OpenTheServer(15000);
            released = GetTickCount();
        }
        CScopedHandle server(serverHandle);
        ASSERT_TRUE(server.IsValid()) << offset;
        // Bounded by the moment; an earlier end of the server ends the wait.
        const DWORD elapsed = GetTickCount() - released;
        if (elapsed < offset)
            WaitForSingleObject(server.Get(), offset - elapsed);

        CScopedComPtr<ISymbolManager> manager;
        HRESULT created = CreateSymbolManager(manager);
        if (MetTheWithdrawal(created))
            created = CreateSymbolManager(manager);
        ASSERT_EQ(S_OK, created) << "activation " << offset << " ms after the release";
        EXPECT_EQ(E_INVALIDARG, Ping(manager.Get())) << offset;
    }
}

TEST_F(ServerLifetimeTest, SimultaneousFirstActivationsLeaveOneServingProcess)
{
    CScopedHandle go(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    HRESULT created[2] = {E_UNEXPECTED, E_UNEXPECTED};
    HRESULT pinged[2] = {E_UNEXPECTED, E_UNEXPECTED};
    CScopedHandle release(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    CScopedHandle ready[2] = {CScopedHandle(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
                              CScopedHandle(CreateEventA(nullptr, TRUE, FALSE, nullptr))};
    std::vector<std::thread> clients;
    for (int i = 0; i < 2; ++i)
    {
        clients.emplace_back(
            [&, i]
            {
                CComApartment apartment;
                CScopedComPtr<ISymbolManager> manager;
                WaitForSingleObject(go.Get(), INFINITE);
                created[i] = CreateSymbolManager(manager);
                if (SUCCEEDED(created[i]))
                    pinged[i] = Ping(manager.Get());
                SetEvent(ready[i].Get());
                WaitForSingleObject(release.Get(), INFINITE);
            });
    }
    SetEvent(go.Get());
    HANDLE readyHandles[2] = {ready[0].Get(), ready[1].Get()};
    const DWORD bothReady = WaitForMultipleObjects(2, readyHandles, TRUE, 60000);

    // A second process started for the same activation leaves once it finds
    // the first one serving; the objects are still held meanwhile.
    const std::vector<DWORD> started = ServerProcessIds();
    CScopedHandle remaining(OpenTheServer(15000));
    const bool oneLeft = remaining.IsValid();
    SetEvent(release.Get());
    for (std::thread& client : clients)
        client.join();

    ASSERT_EQ(WAIT_OBJECT_0, bothReady);
    EXPECT_EQ(S_OK, created[0]);
    EXPECT_EQ(S_OK, created[1]);
    EXPECT_EQ(E_INVALIDARG, pinged[0]);
    EXPECT_EQ(E_INVALIDARG, pinged[1]);
    EXPECT_TRUE(oneLeft) << started.size() << " servers started, " << ServerProcessIds().size() << " left";
}

} // namespace
