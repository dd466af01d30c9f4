// Inside the trace-log client: the one per-process state and the steps the
// client's files share. Nothing outside src/tracelog includes this.
//
// How it works
// - State: not yet connected -> connected | disabled; any -> shutting down
//   (PBShutdown); shutting down | disabled -> not yet connected (pbRestart).
//   Only the thread that holds connectLock changes the state, so a log call
//   that sees "connected" finds every handle in place.
// - A log call counts itself in callsInProgress for its whole length, so
//   shutdown can wait for calls to leave before closing the handles.
// - The buffer itself is shared with the viewer and other processes: every
//   header and record access happens while holding the named mutex, and every
//   offset read from the header is checked against the view first.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "tracelog/pbclient.h"

enum PBConnectionState {
    PB_NOT_CONNECTED,
    PB_CONNECTED,
    PB_DISABLED,
    PB_SHUTTING_DOWN,
};

// The handles of a connection and the mapped view of the buffer file.
struct PBConnection {
    HANDLE lock;
    HANDLE newMessages;
    HANDLE lowSpace;
    HANDLE file;
    HANDLE mapping;
    uint8_t* view;
    size_t viewBytes;    // what may be touched: the view, at most the file
    uint64_t fileBytes;  // the file's size when mapped
};

struct PBClientState {
    std::atomic<int> state{PB_NOT_CONNECTED};
    std::atomic<long> callsInProgress{0};
    SRWLOCK connectLock = SRWLOCK_INIT;
    bool globalNames = false;
    PBConnection connection = {};

    std::atomic<const PBComponent*> defaultComponent{nullptr};
    std::atomic<const PBContext*> defaultContext{nullptr};

    wchar_t processPath[260] = {};
    wchar_t modulePath[260] = {};
    PBComponent apiComponent = {};
    PBContext apiContext = {};

    std::atomic<LONG> droppedRecords{0};
    std::atomic<LONG> lockFailures{0};
    std::atomic<LPTOP_LEVEL_EXCEPTION_FILTER> savedFilter{nullptr};
};

PBClientState& pbClient();

// Internal error codes; the event category is (code & 0xFFFF) / 100.
enum PBErrorCode : DWORD {
    PB_ERR_UNSUPPORTED_SYSTEM = 100,
    PB_ERR_DIRECTORY = 201,
    PB_ERR_BUFFER_SIZE = 202,
    PB_ERR_NEXT_DIRECTORY = 203,
    PB_ERR_LOCK = 301,
    PB_ERR_EVENTS = 302,
    PB_ERR_FILE = 401,
    PB_ERR_FILE_SIZE = 402,
    PB_ERR_MAPPING = 403,
    PB_ERR_FAULT = 501,
};

// The internal error reporter: the system event log, source "Paul Bunyan".
// detail is the registry value or text concerned (may be null).
void pbReportError(DWORD code, DWORD windowsError, const wchar_t* detail, bool warning = false);

// Counts the caller as a call in progress while alive; active() is false when
// the client is disabled or shutting down (the call must return at once).
class PBCallGuard {
public:
    PBCallGuard();
    ~PBCallGuard();
    bool active() const { return active_; }

private:
    bool active_;
};

// Connects when not yet connected; true when connected. Call inside a guard.
bool pbEnsureConnected();

// Waits for the buffer lock (abandoned counts as acquired); a failed wait is
// counted as a lock failure. pbUnlock releases it.
bool pbLock();
void pbUnlock();

// Appends one record (or counts its drop). Call inside a guard, connected.
void pbWriteRecord(const wchar_t* file, int line, DWORD level, const PBComponent* component,
                   const PBContext* context, const wchar_t* text);

// Logs one of the client's own reports (level 0x8000, component "API").
void pbLogApi(const wchar_t* format, ...);

// The calling thread's defaults, or null.
const PBComponent* pbThreadComponent();
const PBContext* pbThreadContext();
// Closes the thread-default slots' handles (at shutdown).
void pbReleaseThreadDefaults();

// ANSI code page text as UTF-16; null is empty.
std::wstring pbWiden(const char* text);

// Current UTC time as 100 ns units, and local - UTC in minutes.
uint64_t pbNow();
int16_t pbLocalMinutes(uint64_t utc);
