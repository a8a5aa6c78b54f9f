// A small program to be debugged: loads the DLLs named on its command line,
// after "-sleep N" pauses N milliseconds first, after "-wait NAME" waits (at
// most a minute) until the named event is set, and for "-cycle N DLL" loads
// and frees the DLL N times. Exits with the number of loads that succeeded.
#include <windows.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    int loaded = 0;
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "-sleep") == 0 && i + 1 < argc)
        {
            Sleep(static_cast<DWORD>(std::atoi(argv[++i])));
        }
        else if (std::strcmp(argv[i], "-wait") == 0 && i + 1 < argc)
        {
            HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, argv[++i]);
            if (event != nullptr)
            {
                WaitForSingleObject(event, 60000);
                CloseHandle(event);
            }
        }
        else if (std::strcmp(argv[i], "-cycle") == 0 && i + 2 < argc)
        {
            const int count = std::atoi(argv[++i]);
            const char* name = argv[++i];
            for (int n = 0; n < count; ++n)
            {
                HMODULE module = LoadLibraryA(name);
                if (module == nullptr)
                    break;
                ++loaded;
                FreeLibrary(module);
            }
        }
        else if (LoadLibraryA(argv[i]) != nullptr)
        {
            ++loaded;
        }
    }
    return loaded;
}
