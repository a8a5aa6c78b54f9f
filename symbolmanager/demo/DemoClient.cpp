// make demo's client: does for each image what the add-in does for each image
// the debugger reports. It opens the file, passes the handle and its own
// process id to ISymbolManager::GetSymbols, prints the returned log line by
// line as the IDE's output window shows it, then lists the destination and
// prints a one-line summary.
//   qx3fetch_demo.exe SYMBOLPATH DESTDIR IMAGE...
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <string>
#include <vector>

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

std::string Narrow(const wchar_t* text)
{
    const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::vector<char> buffer(size > 0 ? size : 1);
    WideCharToMultiByte(CP_ACP, 0, text, -1, buffer.data(), size, nullptr, nullptr);
    return std::string(buffer.data());
}

void ListFiles(const std::string& dir, const std::string& prefix, std::vector<std::string>& names)
{
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do
    {
        const std::string name = data.cFileName;
        if (name == "." || name == "..")
            continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ListFiles(dir + "\\" + name, prefix + name + "\\", names);
        else
            names.push_back(prefix + name + "  (" + std::to_string(data.nFileSizeLow) + " bytes)");
    } while (FindNextFileA(find, &data));
    FindClose(find);
}

int Run(int argc, char** argv)
{
    const std::wstring symbolPath = Widen(argv[1]);
    const std::string dest = argv[2];
    const std::wstring destWide = Widen(dest);
    const DWORD start = GetTickCount();

    CScopedComPtr<ISymbolManager> manager;
    const HRESULT created =
        CoCreateInstance(CLSID_SymbolManager, nullptr, CLSCTX_LOCAL_SERVER, IID_ISymbolManager, manager.ReceiveVoid());
    if (FAILED(created))
    {
        printf("CoCreateInstance failed: %08lx\n", static_cast<unsigned long>(created));
        return 1;
    }
    int images = 0;
    int found = 0;
    int failed = 0;
    for (int i = 3; i < argc; ++i)
    {
        ++images;
        printf("-- %s\n", argv[i]);
        CScopedHandle file(CreateFileA(argv[i], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!file.IsValid())
        {
            printf("   cannot open the image (error %lu)\n", GetLastError());
            ++failed;
            continue;
        }
        BOOL imageFound = FALSE;
        LPWSTR log = nullptr;
        const HRESULT result = manager->GetSymbols(
            static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(file.Get())), GetCurrentProcessId(), nullptr,
            const_cast<LPWSTR>(symbolPath.c_str()), const_cast<LPWSTR>(destWide.c_str()), FALSE, &imageFound, &log);
        if (log != nullptr)
        {
            // The output window shows the text line by line.
            const std::string text = Narrow(log);
            CoTaskMemFree(log);
            size_t begin = 0;
            while (begin < text.size())
            {
                size_t end = text.find('\n', begin);
                if (end == std::string::npos)
                    end = text.size();
                printf("   %s\n", text.substr(begin, end - begin).c_str());
                begin = end + 1;
            }
        }
        if (result != S_OK)
        {
            printf("   GetSymbols failed: %08lx\n", static_cast<unsigned long>(result));
            ++failed;
        }
        found += imageFound ? 1 : 0;
    }
    const DWORD elapsed = GetTickCount() - start;

    std::vector<std::string> files;
    ListFiles(dest, "", files);
    printf("-- destination %s\n", dest.c_str());
    for (const std::string& name : files)
        printf("   %s\n", name.c_str());
    printf("images %d, found %d, files copied %u, failed calls %d, time %lu ms\n", images, found,
           static_cast<unsigned>(files.size()), failed, static_cast<unsigned long>(elapsed));
    return failed == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4)
    {
        fprintf(stderr, "usage: qx3fetch_demo SYMBOLPATH DESTDIR IMAGE...\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 3;
    const int code = Run(argc, argv);
    CoUninitialize();
    return code;
}
