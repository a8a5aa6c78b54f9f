// Opens a file and keeps its handle open in a process of its own, the way the
// IDE holds an image's handle: prints "<pid> <handle>" and waits until its
// standard input closes. Lets tests pass a handle of another process.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    printf("%lu %lu\n", GetCurrentProcessId(), static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(file)));
    fflush(stdout);
    char byte;
    while (fread(&byte, 1, 1, stdin) == 1)
    {
    }
    CloseHandle(file);
    return 0;
}
