// The server module in this process, without COM: how Term ends the
// monitor thread that the server's early exits leave waiting.
#include "ServerModule.h"

#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include "ScopedHandle.h"

namespace
{

HRESULT CreateNothing(IUnknown*, REFIID, void** Object)
{
    *Object = nullptr;
    return E_NOTIMPL;
}

const CLSID kTestClass = {0x5c1e0d2a, 0x61b4, 0x4f0e, {0x9a, 0x55, 0x0d, 0x3b, 0x6e, 0x2f, 0x71, 0x08}};
const CClassTableEntry kTable[] = {{&kTestClass, 0, CreateNothing}};

size_t ThreadCount()
{
    size_t count = 0;
    CScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more; more = Thread32Next(snapshot.Get(), &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    return count;
}

TEST(ServerModuleTest, TermEndsAMonitorThatNeverSawARelease)
{
    const size_t before = ThreadCount();
    {
        CServerModule module;
        ASSERT_TRUE(module.Init(kTable, 1, GetModuleHandleA(nullptr), GUID_NULL));
        ASSERT_TRUE(module.StartMonitor());
        EXPECT_EQ(before + 1, ThreadCount());
        module.Term();
        EXPECT_EQ(before, ThreadCount()) << "the monitor thread still runs after Term";
    }
    MSG message;
    EXPECT_FALSE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "a stopped monitor posts no quit";
}

} // namespace
