#include "Trace.h"

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "PathSplit.h"

namespace
{

constexpr size_t kLineBufferSize = TRACE_MAX_MESSAGE + 1;

// The switches are constant-initialised, so static constructors of the module
// that trace before this file's own constructors ran see the initial values.
int g_enable = 1;
unsigned int g_categoryMask = 0xFFFFFFFFu;
int g_maxLevel = 255;
int g_threadIdColumn = 0;
int g_dateTimeColumn = 0;
// One depth for all threads of the module; changed atomically so that
// concurrent scopes never tear it, although the indentation a line shows
// mixes the scopes of all threads.
std::atomic<int> g_depth{0};

FILE* g_logFile = nullptr;
char g_logFileName[MAX_PATH] = {};
char g_line[kLineBufferSize];

CRITICAL_SECTION g_lock;
bool g_lockReady = false;

// Creates the lock when the module is loaded and deletes it when it unloads.
struct TraceLockLifetime
{
    TraceLockLifetime()
    {
        InitializeCriticalSection(&g_lock);
        g_lockReady = true;
    }
    ~TraceLockLifetime()
    {
        g_lockReady = false;
        DeleteCriticalSection(&g_lock);
    }
} g_lockLifetime;

// Each piece goes out by itself: appended and flushed when a log file is open,
// otherwise as one debugger-output string.
void WritePiece(const char* text)
{
    if (g_logFile != nullptr)
    {
        fputs(text, g_logFile);
        fflush(g_logFile);
    }
    else
    {
        OutputDebugStringA(text);
    }
}

const char* CategoryColumn(int category)
{
    switch (category)
    {
    case TRACE_ERROR:
        return "3\t";
    case TRACE_WARNING:
        return "2\t";
    case TRACE_INFO:
        return "1\t";
    default:
        return "0\t";
    }
}

// Where a log file name without drive or directory goes: beside the process's
// executable. The result is empty when it would not fit into MAX_PATH.
std::string ResolveLogFileName(const char* fileName)
{
    const PathParts parts = SplitPath(fileName);
    std::string resolved;
    if (parts.drive.empty() && parts.dir.empty())
    {
        char exePath[MAX_PATH + 1] = {};
        const DWORD length = GetModuleFileNameA(nullptr, exePath, MAX_PATH);
        if (length > 0 && length < MAX_PATH)
        {
            resolved.assign(exePath, length);
            const size_t slash = resolved.find_last_of('\\');
            resolved.erase(slash == std::string::npos ? 0 : slash + 1);
        }
    }
    resolved += fileName;
    if (resolved.size() >= MAX_PATH)
        resolved.clear();
    return resolved;
}

} // namespace

void TraceMessage(int category, int level, const char* format, ...)
{
    if (g_enable == 0)
        return;
    if ((static_cast<unsigned int>(category) & g_categoryMask) == 0 || level > g_maxLevel)
        return;

    const bool locked = g_lockReady;
    if (locked)
        EnterCriticalSection(&g_lock);

    WritePiece(CategoryColumn(category));

    if (g_threadIdColumn != 0)
    {
        _snprintf(g_line, kLineBufferSize - 1, "%lX\t", GetCurrentThreadId());
        g_line[kLineBufferSize - 1] = '\0';
        WritePiece(g_line);
    }

    if (g_dateTimeColumn != 0)
    {
        const time_t now = time(nullptr);
        const struct tm* local = localtime(&now);
        if (local != nullptr)
        {
            _snprintf(g_line, kLineBufferSize - 1, "%2d/%02d/%02d %02d:%02d:%02d\t", local->tm_year % 100,
                      local->tm_mon + 1, local->tm_mday, local->tm_hour, local->tm_min, local->tm_sec);
            g_line[kLineBufferSize - 1] = '\0';
            WritePiece(g_line);
        }
    }

    // Deeper nesting than the line buffer holds is shown with a full buffer
    // of blanks rather than overrunning it.
    const int depth = g_depth.load();
    if (depth > 0)
    {
        const size_t blanks = depth < TRACE_MAX_MESSAGE ? static_cast<size_t>(depth) : TRACE_MAX_MESSAGE;
        memset(g_line, ' ', blanks);
        g_line[blanks] = '\0';
        WritePiece(g_line);
    }

    va_list args;
    va_start(args, format);
    // _vsnprintf leaves the buffer unterminated when the text is cut.
    _vsnprintf(g_line, kLineBufferSize - 1, format, args);
    va_end(args);
    g_line[kLineBufferSize - 1] = '\0';
    WritePiece(g_line);

    if (locked)
        LeaveCriticalSection(&g_lock);
}

void TraceSetOptions(unsigned int categoryMask, int maxLevel, int dateTime, int threadId)
{
    g_categoryMask = categoryMask;
    g_maxLevel = maxLevel < 0 ? 0 : maxLevel;
    g_dateTimeColumn = dateTime;
    g_threadIdColumn = threadId;
}

void TraceEnable(int on)
{
    g_enable = on;
}

int TraceIsEnabled()
{
    return g_enable;
}

void TraceAddNesting(int delta)
{
    g_depth.fetch_add(delta);
}

int TraceNestingDepth()
{
    return g_depth.load();
}

void TraceOpenLogFile(const char* fileName, const char* mode)
{
    if (fileName == nullptr || mode == nullptr)
        return;

    const bool locked = g_lockReady;
    if (locked)
        EnterCriticalSection(&g_lock);

    if (g_logFile != nullptr && strcmp(g_logFileName, fileName) == 0)
    {
        if (locked)
            LeaveCriticalSection(&g_lock);
        return;
    }

    if (g_logFile != nullptr)
    {
        fclose(g_logFile);
        g_logFile = nullptr;
        g_logFileName[0] = '\0';
    }

    // A name that cannot be kept whole, or whose resolved path exceeds
    // MAX_PATH, opens nothing: the lines go to the debugger output.
    if (strlen(fileName) < MAX_PATH)
    {
        const std::string resolved = ResolveLogFileName(fileName);
        if (!resolved.empty())
        {
            g_logFile = fopen(resolved.c_str(), mode);
            if (g_logFile != nullptr)
                strcpy(g_logFileName, fileName);
        }
    }

    if (locked)
        LeaveCriticalSection(&g_lock);
}
