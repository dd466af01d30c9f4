// The diagnostic trace: lines of (source unit, line, level, text) that a
// developer reads; the user never sees them. traceLine hands each line to
// the debugger output, to an observer that tests may install and to the
// trace-log client (pbclient.h), which passes it on to the outside log viewer.
#pragma once

enum TraceLevel {
    TRACE_SCOPE = 2,
    TRACE_DETAIL = 4,
    TRACE_INFO = 8,
    TRACE_WARNING = 16,
    TRACE_ERROR = 32,
};

// file: the calling source unit (a path is cut to its last component).
void traceLine(const char* file, int line, int level, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

// Sees every line after formatting; used by tests. Null removes it.
// The observer may be called from any thread.
typedef void (*TraceObserver)(void* context, const char* file, int line, int level, const char* text);
void setTraceObserver(TraceObserver observer, void* context);

// "Entering scope: %s" when made, "Leaving scope: %s" when destroyed.
class TraceScope {
public:
    TraceScope(const char* file, int line, const char* name);
    ~TraceScope();
    TraceScope(const TraceScope&) = delete;
    TraceScope& operator=(const TraceScope&) = delete;

private:
    const char* file_;
    int line_;
    const char* name_;
};

#define TRACE(level, ...) traceLine(__FILE__, __LINE__, (level), __VA_ARGS__)
