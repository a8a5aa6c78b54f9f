#pragma once
// Module-wide trace log. Every module (qx3fetch, qx3ide, qx3trap) links its own
// copy of this library, so each has its own switches, lock and log file.

// Trace categories: bit values tested against the category mask.
enum TraceCategory : int
{
    TRACE_ERROR = 1,
    TRACE_WARNING = 2,
    TRACE_INFO = 4,
};

// Longest message text written for one call; longer texts are cut.
constexpr int TRACE_MAX_MESSAGE = 1023;

// Writes one line (the caller's format carries its own "\n") with the category
// column, the optional thread-id and date/time columns and the current
// indentation. Costs two tests and no formatting while tracing is off.
void TraceMessage(int category, int level, const char* format, ...) __attribute__((format(ms_printf, 3, 4)));

// How a flag reads in a trace line: "true" or "false".
inline const char* BoolText(bool value)
{
    return value ? "true" : "false";
}

// Sets which categories pass, the highest level that passes, and which optional
// columns are written. A negative maximum level is stored as 0.
void TraceSetOptions(unsigned int categoryMask, int maxLevel, int dateTime, int threadId);

// Switches all tracing of this module on (1) or off (0).
void TraceEnable(int on);

// Sends further lines to the named file, opened with the given stdio mode. A
// name without drive or directory is placed beside the process's executable.
// When the file cannot be opened, lines go to the debugger output.
void TraceOpenLogFile(const char* fileName, const char* mode);

// Current indentation in characters (3 per open scope, all threads together).
int TraceNestingDepth();

// Used by CTraceScope: the enable switch and the shared nesting depth.
int TraceIsEnabled();
void TraceAddNesting(int delta);
