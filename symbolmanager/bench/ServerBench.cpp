// make bench: qx3fetch's activation and call costs under COM.
//   cold activation   first CoCreateInstance with no server running
//   warm activation   median of 20 activations while the server runs
//   round trip        median GetSymbols over 500 calls whose symbols are
//                     already in the destination; then the same request by
//                     file handle, as the add-in makes it, and a refused
//                     request, which costs only the call between processes
//   3 x 200 calls     three client processes at once, wall time
// Needs QX3_SAMPLES and QX3_TESTDIR, and the server registered.
#include <windows.h>
#include <objbase.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "ScopedComPtr.h"
#include "ScopedHandle.h"
#include "SymbolManager.h"

namespace
{

std::wstring Widen(const std::string& text)
{
    const int size = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::vector<wchar_t> buffer(size > 0 ? size : 1);
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, buffer.data(), size);
    return std::wstring(buffer.data());
}

bool ServerRunning()
{
    CScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot.Get(), &entry); more; more = Process32Next(snapshot.Get(), &entry))
    {
        if (lstrcmpiA(entry.szExeFile, "qx3fetch.exe") == 0)
        {
            CScopedHandle process(OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID));
            // Bounded: the server ends about 7 s after its last release.
            if (process.IsValid() && WaitForSingleObject(process.Get(), 20000) != WAIT_OBJECT_0)
                return true;
        }
    }
    return false;
}

HRESULT Create(CScopedComPtr<ISymbolManager>& manager)
{
    return CoCreateInstance(CLSID_SymbolManager, nullptr, CLSCTX_LOCAL_SERVER, IID_ISymbolManager,
                            manager.ReceiveVoid());
}

std::string ExeDir()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir = path;
    return dir.substr(0, dir.rfind('\\') + 1);
}

int Run()
{
    const char* samples = getenv("QX3_SAMPLES");
    const char* testDir = getenv("QX3_TESTDIR");
    if (samples == nullptr || testDir == nullptr)
    {
        printf("QX3_SAMPLES and QX3_TESTDIR must be set\n");
        return 1;
    }
    const std::string image = std::string(samples) + "\\images\\nb10.dll";
    const std::string symbols = std::string(samples) + "\\symbols";
    const std::string dest = std::string(testDir) + "\\bench-dest";
    CreateDirectoryA(testDir, nullptr);
    CreateDirectoryA(dest.c_str(), nullptr);

    if (ServerRunning())
        printf("a server is still running: the cold figure is not cold\n");
    CScopedComPtr<ISymbolManager> manager;
    double start = NowMs();
    HRESULT result = Create(manager);
    const double cold = NowMs() - start;
    if (FAILED(result))
    {
        printf("CoCreateInstance failed: %08lx\n", static_cast<unsigned long>(result));
        return 1;
    }
    printf("cold activation:        %8.1f ms\n", cold);

    std::vector<double> warm;
    for (int i = 0; i < 20; ++i)
    {
        CScopedComPtr<ISymbolManager> other;
        start = NowMs();
        result = Create(other);
        warm.push_back(NowMs() - start);
        if (FAILED(result))
            return 1;
    }
    printf("warm activation:        %8.1f ms (median of 20)\n", Median(warm));

    const std::wstring imageWide = Widen(image);
    const std::wstring symbolsWide = Widen(symbols);
    const std::wstring destWide = Widen(dest);
    auto call = [&]()
    {
        BOOL found = FALSE;
        LPWSTR log = nullptr;
        const HRESULT callResult =
            manager->GetSymbols(0, 0, const_cast<LPWSTR>(imageWide.c_str()), const_cast<LPWSTR>(symbolsWide.c_str()),
                                const_cast<LPWSTR>(destWide.c_str()), FALSE, &found, &log);
        CoTaskMemFree(log);
        return callResult == S_OK && found;
    };
    if (!call())
        return 1;
    std::vector<double> trips;
    for (int i = 0; i < 500; ++i)
    {
        start = NowMs();
        if (!call())
            return 1;
        trips.push_back(NowMs() - start);
    }
    printf("GetSymbols round trip:  %8.2f ms (median of 500, symbols already in the destination)\n", Median(trips));

    // The same request as the add-in makes it: the image by handle, which the
    // server duplicates out of this process and names itself.
    CScopedHandle imageFile(CreateFileA(image.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    const DWORD handleValue = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(imageFile.Get()));
    auto callByHandle = [&](DWORD fileHandle)
    {
        BOOL found = FALSE;
        LPWSTR log = nullptr;
        const HRESULT callResult =
            manager->GetSymbols(fileHandle, GetCurrentProcessId(), nullptr, const_cast<LPWSTR>(symbolsWide.c_str()),
                                const_cast<LPWSTR>(destWide.c_str()), FALSE, &found, &log);
        CoTaskMemFree(log);
        return callResult == S_OK && found;
    };
    std::vector<double> byHandle;
    std::vector<double> refused;
    for (int i = 0; i < 500; ++i)
    {
        start = NowMs();
        if (!callByHandle(handleValue))
            return 1;
        byHandle.push_back(NowMs() - start);
        // No handle: the server refuses at once, so this is the bare cost of
        // one call between the processes.
        start = NowMs();
        callByHandle(0);
        refused.push_back(NowMs() - start);
    }
    printf("  the same by handle:   %8.2f ms (median of 500, as the add-in asks)\n", Median(byHandle));
    printf("  a refused request:    %8.2f ms (median of 500, the call between the processes alone)\n", Median(refused));

    HANDLE processes[3] = {};
    const char* images[3] = {"nb10.dll", "rsds.exe", "dbgcv.dll"};
    start = NowMs();
    for (int i = 0; i < 3; ++i)
    {
        const std::string clientDest = dest + "\\" + images[i];
        CreateDirectoryA(clientDest.c_str(), nullptr);
        std::string commandLine = "\"" + ExeDir() + "qx3fetch_client.exe\" 200 \"" + std::string(samples) +
                                  "\\images\\" + images[i] + "\" \"" + symbols + "\" \"" + clientDest + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
            return 1;
        CloseHandle(info.hThread);
        processes[i] = info.hProcess;
    }
    WaitForMultipleObjects(3, processes, TRUE, 300000);
    const double concurrent = NowMs() - start;
    DWORD failures = 0;
    for (HANDLE process : processes)
    {
        DWORD code = 1;
        GetExitCodeProcess(process, &code);
        failures += code != 0 ? 1 : 0;
        CloseHandle(process);
    }
    printf("3 clients x 200 calls:  %8.0f ms (%u clients failed)\n", concurrent, static_cast<unsigned>(failures));
    return failures == 0 ? 0 : 1;
}

} // namespace

int main()
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 3;
    const int code = Run();
    CoUninitialize();
    return code;
}
