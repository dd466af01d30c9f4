// The trace-log client: hands trace lines to the outside log viewer by
// appending records to the viewer's shared buffer file (layout in
// pbbuffer.h). traceLine (trace.h) uses it as a sink; this header offers the
// fuller interface: explicit components and contexts, UTF-16 texts, thread
// and process defaults, shutting down.
//
// The client connects at the first log call from the viewer's registry
// settings. Without them, or when any connecting step fails, it disables
// itself for the rest of the process (until pbRestart) and every log call
// returns at once. Logging never reports failure to its caller.
#pragma once

#include <windows.h>

#include <cstdarg>

// A component says which part of a program a record comes from; a context
// what it was doing. Both belong to the caller and must outlive their use as
// defaults. A record is vetoed when a present descriptor is disabled or its
// muted mask shares a bit with the record's level.
struct PBComponent {
    wchar_t name[64];
    wchar_t key[64];
    DWORD enabled;
    DWORD mutedLevels;
};

struct PBContext {
    wchar_t name[64];
    DWORD enabled;
    DWORD mutedLevels;
};

// Options of PBSetDefaultComponent / PBSetDefaultContext.
enum PBDefaultOption {
    PB_DEFAULT_THREAD = 1,
    PB_DEFAULT_PROCESS = 2,
};

// The level of the client's own reports about misuse and limits.
const DWORD kPBLevelApi = 0x8000;

// Log one message. Without a component or context (null) the calling
// thread's default is used, else the process default. The ANSI format is
// printf-formatted and converted with the ANSI code page; the UTF-16 format
// goes through the C library's wide printf (%ls for UTF-16 arguments).
// file may be null or empty.
void traceLineEx(const char* file, int line, DWORD level, const PBComponent* component, const PBContext* context,
                 const char* format, ...) __attribute__((format(printf, 6, 7)));
void traceLineW(const wchar_t* file, int line, DWORD level, const PBComponent* component, const PBContext* context,
                const wchar_t* format, ...);
void traceLineExV(const char* file, int line, DWORD level, const PBComponent* component, const PBContext* context,
                  const char* format, va_list args);

// "Entering scope: %s" at creation and "Leaving scope: %s" at destruction,
// with the same file, line, level and component.
class PBTraceScope {
public:
    PBTraceScope(const char* file, int line, DWORD level, const char* name, const PBComponent* component = nullptr);
    PBTraceScope(const wchar_t* file, int line, DWORD level, const wchar_t* name,
                 const PBComponent* component = nullptr);
    ~PBTraceScope();
    PBTraceScope(const PBTraceScope&) = delete;
    PBTraceScope& operator=(const PBTraceScope&) = delete;

private:
    wchar_t file_[260];
    wchar_t name_[128];
    int line_;
    DWORD level_;
    const PBComponent* component_;
};

// Fill a descriptor. Names and keys are cut to 63 characters. When logging
// is off the names are stored empty and only the flags are set. The Id forms
// load the name from the module's string resources (moduleInstance()).
void PBSetComponent(PBComponent* target, const char* name, const char* key, BOOL enabled, DWORD mutedLevels);
void PBSetComponent(PBComponent* target, const wchar_t* name, const wchar_t* key, BOOL enabled, DWORD mutedLevels);
void PBSetComponentId(PBComponent* target, UINT nameStringId, const wchar_t* key, BOOL enabled, DWORD mutedLevels);
void PBSetContext(PBContext* target, const char* name, BOOL enabled, DWORD mutedLevels);
void PBSetContext(PBContext* target, const wchar_t* name, BOOL enabled, DWORD mutedLevels);
void PBSetContextId(PBContext* target, UINT nameStringId, BOOL enabled, DWORD mutedLevels);

// Set the process default (PB_DEFAULT_PROCESS) or the calling thread's
// default (PB_DEFAULT_THREAD; null removes it). Return the previous default.
// A process has 64 thread-default slots; slots of ended threads are reused.
const PBComponent* PBSetDefaultComponent(const PBComponent* component, int option);
const PBContext* PBSetDefaultContext(const PBContext* context, int option);

// Ends the connection: waits up to waitMs for log calls in progress, then
// releases the view, mapping, file, lock and events. Later calls return at
// once. When calls are still running after waitMs the connection is left
// open (they still use it); calling PBShutdown again closes it.
void PBShutdown(DWORD waitMs);
// Lets a disabled client, or one whose shutdown has closed the connection,
// connect afresh at the next log call (after the viewer's settings changed).
void pbRestart();

// What this process could not log since it started, and how many log
// calls are running now.
struct PBStatistics {
    LONG droppedRecords;
    LONG lockFailures;
    LONG callsInProgress;
};
PBStatistics pbStatistics();

// Whether the client is connected now (it connects lazily on the first call).
bool pbConnected();

// Sees every report of the internal error reporter (code, Windows error,
// text); used by tests. Null removes it.
typedef void (*PBErrorObserver)(void* context, DWORD code, DWORD windowsError, const wchar_t* text);
void setPBErrorObserver(PBErrorObserver observer, void* observerContext);

// The sink traceLine uses: an already formatted ANSI line.
void pbTraceSink(const char* file, int line, DWORD level, const char* text);
