#pragma once
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "CriticalSection.h"

// The stand-in IDE's output window: each line goes to the console and to the
// log file, in the order printed. Lines printed by add-ins are written as
// they came; the host's own records of what happened begin with "msdev: ".
// Both are buffered and written out by Flush, which the host calls after each
// script line and at the end: under Wine each console or file write costs the
// printing thread a millisecond or more while a debug session keeps the
// server busy, far more than the IDE's own output window does.
class CMsdevOutput
{
public:
    CMsdevOutput() = default;
    ~CMsdevOutput();
    CMsdevOutput(const CMsdevOutput&) = delete;
    CMsdevOutput& operator=(const CMsdevOutput&) = delete;

    // Appends to the named file from now on; false when it cannot be opened.
    bool OpenLog(const std::string& path);
    // Whether lines go to the console too (the default).
    void SetConsole(bool on) { m_console = on; }
    // A line of the output window, as an add-in printed it.
    void PrintLine(const std::string& line);
    // A record of the host: "msdev: " and the text.
    void Record(const std::string& text);
    // Writes out what is buffered.
    void Flush();
    // Every line so far, in order.
    std::vector<std::string> Lines() const;

private:
    void Write(const std::string& line);

    mutable CCriticalSection m_lock;
    FILE* m_log = nullptr;
    bool m_console = true;
    std::vector<std::string> m_lines;
};

// Narrow text in the ANSI code page; wide text from it.
std::string MsdevNarrow(const wchar_t* text);
std::wstring MsdevWide(const std::string& text);
// A record's form of a text that may hold line breaks or tabs: they are
// written as \n, \r and \t, so that each record stays one line (backslashes
// stay as they are: paths remain readable).
std::string MsdevEscape(const std::string& text);
