// msdev.exe: a stand-in of the Visual C++ 6.0 IDE for running and testing
// add-ins where the IDE is not available. It does what an add-in relies on:
// it creates the registered, enabled add-ins through COM and connects them
// with its application object, prints their output window lines, runs their
// commands by name and answers the dialogs those show (see CMsdevScript).
//
// usage: msdev.exe [/log FILE] [/quiet] [/timeout MS] (/script FILE | /c LINE...)
//   /log FILE     append every output window line and record to FILE too
//   /quiet        nothing on the console (the log file only)
//   /timeout MS   how long each dialog step waits for its dialog
//   /script FILE  run the lines of FILE
//   /c LINE       run one line; may be given several times
// The exit code is 0 when every line succeeded, 1 when one failed, 2 for a
// usage error.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "MsdevHost.h"

namespace
{

int Usage()
{
    fprintf(stderr, "usage: msdev.exe [/log FILE] [/quiet] [/timeout MS] (/script FILE | /c LINE...)\n");
    return 2;
}

bool ReadLines(const std::string& path, std::vector<std::string>& lines)
{
    std::ifstream file(path.c_str(), std::ios::binary);
    if (!file)
        return false;
    std::string line;
    while (std::getline(file, line))
    {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::string logPath;
    DWORD timeoutMs = 10000;
    bool console = true;
    std::vector<std::string> lines;
    for (int i = 1; i < argc; ++i)
    {
        const std::string option = argv[i];
        if (_stricmp(option.c_str(), "/quiet") == 0)
        {
            console = false;
            continue;
        }
        if (i + 1 >= argc)
            return Usage();
        const std::string value = argv[++i];
        if (_stricmp(option.c_str(), "/log") == 0)
            logPath = value;
        else if (_stricmp(option.c_str(), "/timeout") == 0)
            timeoutMs = static_cast<DWORD>(strtoul(value.c_str(), nullptr, 10));
        else if (_stricmp(option.c_str(), "/script") == 0)
        {
            if (!ReadLines(value, lines))
            {
                fprintf(stderr, "msdev: cannot read %s\n", value.c_str());
                return 2;
            }
        }
        else if (_stricmp(option.c_str(), "/c") == 0)
            lines.push_back(value);
        else
            return Usage();
    }
    if (lines.empty())
        return Usage();

    // The IDE's GUI thread is a single-threaded apartment.
    if (FAILED(OleInitialize(nullptr)))
    {
        fprintf(stderr, "msdev: OleInitialize failed\n");
        return 1;
    }
    bool succeeded = false;
    {
        CMsdevHost host;
        if (!logPath.empty() && !host.Output().OpenLog(logPath))
        {
            fprintf(stderr, "msdev: cannot open %s\n", logPath.c_str());
            return 2;
        }
        host.Output().SetConsole(console);
        host.Script().SetDialogTimeout(timeoutMs);
        succeeded = host.Run(lines);
        host.AddIns().DisconnectAll(false);
        const LONG references = host.Application().GetRefCount();
        if (references != 0)
        {
            host.Output().Record("application object still has " + std::to_string(references) + " references");
            succeeded = false;
        }
        host.Output().Record(succeeded ? "done" : "done with failures");
    }
    OleUninitialize();
    return succeeded ? 0 : 1;
}
