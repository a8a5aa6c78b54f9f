// A client of qx3fetch for the concurrency test: makes N by-name calls for one
// image and checks that every call succeeds and that every log is about its
// own image only.
//   qx3fetch_client.exe COUNT IMAGE SYMBOLPATH DESTDIR
// Exit code 0 when all calls were right; else the number of the first wrong
// call (1-based) or a small error code; details on stderr.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ScopedComPtr.h"
#include "SymbolManager.h"

namespace
{

std::wstring Widen(const char* text)
{
    const int size = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::vector<wchar_t> buffer(size > 0 ? size : 1);
    MultiByteToWideChar(CP_ACP, 0, text, -1, buffer.data(), size);
    return std::wstring(buffer.data());
}

// Every "QUILLM: File: " line of the log must name this image.
bool LogIsAbout(const std::wstring& log, const std::wstring& image)
{
    const std::wstring marker = L"QUILLM: File: ";
    const std::wstring own = marker + image + L"\n";
    if (log.compare(0, own.size(), own) != 0)
        return false;
    return log.find(marker, own.size()) == std::wstring::npos;
}

int Run(int count, const std::wstring& image, const std::wstring& symbolPath, const std::wstring& dest)
{
    CScopedComPtr<ISymbolManager> manager;
    HRESULT result =
        CoCreateInstance(CLSID_SymbolManager, nullptr, CLSCTX_LOCAL_SERVER, IID_ISymbolManager, manager.ReceiveVoid());
    if (FAILED(result))
    {
        fprintf(stderr, "CoCreateInstance: %08lx\n", static_cast<unsigned long>(result));
        return 1000;
    }
    for (int call = 1; call <= count; ++call)
    {
        BOOL found = 7;
        LPWSTR log = nullptr;
        result = manager->GetSymbols(0, 0, const_cast<LPWSTR>(image.c_str()), const_cast<LPWSTR>(symbolPath.c_str()),
                                     const_cast<LPWSTR>(dest.c_str()), FALSE, &found, &log);
        const bool right = result == S_OK && found == TRUE && log != nullptr && LogIsAbout(log, image);
        if (!right)
            fprintf(stderr, "call %d: %08lx found %d log %ls\n", call, static_cast<unsigned long>(result), found,
                    log != nullptr ? log : L"(null)");
        CoTaskMemFree(log);
        if (!right)
            return call;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5)
        return 2000;
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 3000;
    const int code = Run(atoi(argv[1]), Widen(argv[2]), Widen(argv[3]), Widen(argv[4]));
    CoUninitialize();
    return code;
}
