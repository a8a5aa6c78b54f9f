#include "TestSupport.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include <gtest/gtest.h>

namespace
{

// Calls visit(name, isDirectory) for each entry of dir, "." and ".." left out.
template <typename Visit>
void ForEachEntry(const std::string& dir, Visit visit)
{
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do
    {
        const std::string name = data.cFileName;
        if (name != "." && name != "..")
            visit(name, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
    } while (FindNextFileA(find, &data));
    FindClose(find);
}

void RemoveTree(const std::string& dir)
{
    ForEachEntry(dir,
                 [&](const std::string& name, bool isDirectory)
                 {
                     const std::string path = dir + "\\" + name;
                     if (isDirectory)
                     {
                         RemoveTree(path);
                     }
                     else
                     {
                         SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                         DeleteFileA(path.c_str());
                     }
                 });
    SetFileAttributesA(dir.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(dir.c_str());
}

} // namespace

CTempDir::CTempDir()
{
    std::string base;
    const char* fromHarness = getenv("QX3_TESTDIR");
    if (fromHarness != nullptr && *fromHarness != '\0')
    {
        base = fromHarness;
    }
    else
    {
        char temp[MAX_PATH + 1] = {};
        GetTempPathA(MAX_PATH, temp);
        base = temp;
    }
    if (!base.empty() && base.back() == '\\')
        base.pop_back();
    CreateDirectoryA(base.c_str(), nullptr);

    std::string testName = "test";
    if (const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info())
        testName = std::string(info->test_suite_name()) + "." + info->name();
    // Parameterised tests have '/' in their names; keep only what a file
    // name may hold.
    for (char& c : testName)
    {
        if (strchr("\\/:*?\"<>|", c) != nullptr)
            c = '_';
    }
    for (unsigned int n = 0; n < 1000; ++n)
    {
        char suffix[64];
        snprintf(suffix, sizeof(suffix), "-%lu-%u", GetCurrentProcessId(), n);
        m_path = base + "\\" + testName + suffix;
        if (CreateDirectoryA(m_path.c_str(), nullptr))
            return;
    }
    ADD_FAILURE() << "cannot create a test directory under " << base;
}

CTempDir::~CTempDir()
{
    RemoveTree(m_path);
}

std::string ReadFileBytes(const std::string& path)
{
    std::string bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr)
        return bytes;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof(chunk), file)) > 0)
        bytes.append(chunk, got);
    fclose(file);
    return bytes;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes)
{
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && ok;
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ExeDirectory()
{
    char path[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir = path;
    dir.erase(dir.find_last_of('\\') + 1);
    return dir;
}

HANDLE StartProgram(const std::string& commandLine)
{
    std::string line = commandLine;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return nullptr;
    CloseHandle(info.hThread);
    return info.hProcess;
}

long RunProgram(const std::string& program, const std::string& arguments, DWORD timeoutMs)
{
    const std::string path = program.find('\\') != std::string::npos ? program : ExeDirectory() + program;
    const HANDLE process = StartProgram("\"" + path + "\"" + (arguments.empty() ? "" : " " + arguments));
    if (process == nullptr)
        return -1;
    long result = -1;
    DWORD code = 0;
    if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0)
        TerminateProcess(process, 1);
    else if (GetExitCodeProcess(process, &code))
        result = static_cast<long>(code);
    CloseHandle(process);
    return result;
}

std::string SamplesDir()
{
    const char* dir = getenv("QX3_SAMPLES");
    return dir != nullptr ? dir : "";
}

std::string SampleImage(const std::string& name)
{
    return SamplesDir() + "\\images\\" + name;
}

std::string SampleSymbolsDir()
{
    return SamplesDir() + "\\symbols";
}

std::vector<std::string> SampleSymbolFiles(const std::string& image)
{
    char list[1024] = {};
    GetPrivateProfileStringA(image.c_str(), "symbol_files", "", list, sizeof(list),
                             (SamplesDir() + "\\manifest.ini").c_str());
    std::vector<std::string> files;
    std::istringstream text(list);
    for (std::string file; std::getline(text, file, ',');)
        files.push_back(file);
    return files;
}

unsigned HttpServerPort(const char* name)
{
    const char* dir = getenv("QX3_TESTDIR");
    const std::string ini = std::string(dir != nullptr ? dir : "") + "\\http-servers.ini";
    return GetPrivateProfileIntA("Servers", name, 0, ini.c_str());
}

std::vector<std::string> ListFiles(const std::string& dir)
{
    std::vector<std::string> files;
    ForEachEntry(dir,
                 [&](const std::string& name, bool isDirectory)
                 {
                     if (!isDirectory)
                     {
                         files.push_back(name);
                         return;
                     }
                     for (const std::string& inner : ListFiles(dir + "\\" + name))
                         files.push_back(name + "\\" + inner);
                 });
    return files;
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size())
    {
        size_t end = text.find('\n', start);
        end = (end == std::string::npos) ? text.size() : end + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

// The log name a test program would use if it called InitModuleTrace itself.
extern const char g_ModuleLogName[] = "qx3tests.log";

bool ContainsLine(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

size_t IndexOfLine(const std::vector<std::string>& lines, const std::string& line, size_t start)
{
    for (; start < lines.size(); ++start)
    {
        if (lines[start] == line)
            return start;
    }
    return lines.size();
}

std::vector<std::string> LinesStartingWith(const std::vector<std::string>& lines, const std::string& prefix)
{
    std::vector<std::string> found;
    for (const std::string& line : lines)
    {
        if (line.compare(0, prefix.size(), prefix) == 0)
            found.push_back(line);
    }
    return found;
}
