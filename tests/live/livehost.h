// Drives the real host program in its own process, the way a user does: it
// starts HarnwickLive.exe from the product folder, finds its windows, presses
// buttons and answers message boxes. Also reads the host's trace through the
// trace viewer program.
#pragma once

#include <windows.h>

#include <string>

// The product folder (HarnwickLive.exe, its DLLs, the test plug-ins).
std::string productFolder();

// Runs a program to its end (30 s at most): what it printed on both
// outputs, and its exit code (-1 when it did not end) when exitCode is given.
std::string runAndCapture(const std::string& commandLine, long* exitCode = nullptr);

class LiveHost {
public:
    LiveHost() = default;
    ~LiveHost();  // ends a host still running, so one failed test cannot block the next
    LiveHost(const LiveHost&) = delete;
    LiveHost& operator=(const LiveHost&) = delete;

    // Starts <folder>\HarnwickLive.exe (the product folder by default).
    // On failure startError() holds CreateProcess's error code.
    bool start(const std::string& folder = productFolder());
    DWORD startError() const { return startError_; }
    // The host dialog, waiting up to timeoutMs for it.
    HWND dialog(DWORD timeoutMs = 30000);
    // Presses a host dialog button.
    void press(int id);
    // The process's exit code once it has ended within timeoutMs, -1 if it has not.
    long waitForExit(DWORD timeoutMs);
    // Ends the process at once, without any clean-up, as a crash does.
    void kill();
    HANDLE process() const { return process_.hProcess; }

private:
    PROCESS_INFORMATION process_ = {};
    HWND dialog_ = nullptr;
    DWORD startError_ = 0;
};

// A message box with this caption: its text, after pressing `button` (IDOK by
// default). Empty when none appeared within timeoutMs.
std::string answerMessageBox(const char* caption, DWORD timeoutMs, int button = IDOK);

// The trace viewer: routes traces into folder (setup), empties the buffer,
// returns its records as text, or switches logging off again.
void traceSetup(const std::string& folder);
void traceClear();
std::string traceText();
void traceRemove();
