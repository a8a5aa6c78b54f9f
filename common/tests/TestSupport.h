#pragma once
#include <windows.h>

#include <string>
#include <vector>

// A fresh directory for one test, outside the Wine prefix (under the
// harness's QX3_TESTDIR), removed with everything in it when the object dies.
class CTempDir
{
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    // The directory's path, without a trailing backslash.
    const std::string& Path() const { return m_path; }
    // Path of an entry in the directory.
    std::string File(const std::string& name) const { return m_path + "\\" + name; }

private:
    std::string m_path;
};

// Whole-file helpers (binary: line ends are kept as stored).
std::string ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
// Directory of the running test program, with a trailing backslash.
std::string ExeDirectory();
// Starts a command line as a process of its own and returns the process
// handle, which the caller closes; null when it could not be started.
HANDLE StartProgram(const std::string& commandLine);
// Runs a program of the test directory (or the full path given) with the
// arguments and returns its exit code, or -1 when it could not be started or
// did not end within timeoutMs (it is then ended).
long RunProgram(const std::string& program, const std::string& arguments, DWORD timeoutMs);
// The generated sample data, named by the harness in QX3_SAMPLES: its
// images and its flat directory of matching symbol files.
std::string SamplesDir();
std::string SampleImage(const std::string& name);
std::string SampleSymbolsDir();
// The names of a sample image's symbol files in that directory, from the
// samples' manifest.ini (symbol_files): one, or a DBG file and its PDB.
std::vector<std::string> SampleSymbolFiles(const std::string& image);
// The port of a loopback server that CTest's http fixture started
// (QX3_TESTDIR\http-servers.ini, section Servers); 0 when there is none.
unsigned HttpServerPort(const char* name);
// Every file below dir (sub-directories walked), as paths relative to dir.
std::vector<std::string> ListFiles(const std::string& dir);
// Splits text into lines, each keeping its line end ("\r\n" or "\n").
std::vector<std::string> SplitLines(const std::string& text);
// Looking through a list of lines: whether one equals line; the index of the
// first equal to line at or after start (lines.size() when none); the lines
// that begin with prefix.
bool ContainsLine(const std::vector<std::string>& lines, const std::string& line);
size_t IndexOfLine(const std::vector<std::string>& lines, const std::string& line, size_t start = 0);
std::vector<std::string> LinesStartingWith(const std::vector<std::string>& lines, const std::string& prefix);
