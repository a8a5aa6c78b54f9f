// A small program to be debugged: loads the DLLs named on its command line,
// after "-sleep N" pauses N milliseconds first, and exits with the number of
// DLLs it loaded.
#include <windows.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    int loaded = 0;
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "-sleep") == 0 && i + 1 < argc)
            Sleep(static_cast<DWORD>(std::atoi(argv[++i])));
        else if (LoadLibraryA(argv[i]) != nullptr)
            ++loaded;
    }
    return loaded;
}
