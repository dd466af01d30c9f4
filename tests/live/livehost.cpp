#include "livehost.h"

#include <cstring>
#include <vector>

#include "drive.h"
#include "ui/resource.h"

namespace {

const char* const kHostCaption = "Harnwick soundcard loopback host";

std::string toWindowsPath(const char* unixPath) {
    std::string path = std::string("Z:") + unixPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

}  // namespace

std::string runAndCapture(const std::string& commandLine, long* exitCode) {
    if (exitCode) *exitCode = -1;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return "";
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    CloseHandle(writeEnd);
    std::string output;
    if (started) {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) output.append(buffer, got);
        DWORD code = static_cast<DWORD>(-1);
        if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
        if (exitCode) *exitCode = static_cast<long>(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(readEnd);
    return output;
}

namespace {

std::string traceview(const std::string& arguments) {
    return runAndCapture("\"" + toWindowsPath(HW_TRACEVIEW) + "\" " + arguments);
}

}  // namespace

std::string productFolder() { return toWindowsPath(HW_BIN_DIR); }

LiveHost::~LiveHost() {
    if (!process_.hProcess) return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process_.hProcess, 99);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
}

bool LiveHost::start(const std::string& folder) {
    std::string commandLine = "\"" + folder + "\\HarnwickLive.exe\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                       &process_))
        return true;
    startError_ = GetLastError();
    return false;
}

HWND LiveHost::dialog(DWORD timeoutMs) {
    if (!dialog_ || !IsWindow(dialog_)) dialog_ = drive::waitForWindow(kHostCaption, timeoutMs);
    return dialog_;
}

void LiveHost::press(int id) { drive::pressButton(dialog(), id); }

long LiveHost::waitForExit(DWORD timeoutMs) {
    if (WaitForSingleObject(process_.hProcess, timeoutMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return static_cast<long>(code);
}

void LiveHost::kill() {
    TerminateProcess(process_.hProcess, 9);
    WaitForSingleObject(process_.hProcess, INFINITE);
}

std::string answerMessageBox(const char* caption, DWORD timeoutMs, int button) {
    HWND box = drive::waitForWindow(caption, timeoutMs);
    return box ? drive::answerMessageBox(box, button) : "";
}

void traceSetup(const std::string& folder) { traceview("--setup \"" + folder + "\""); }
void traceClear() { traceview("-c"); }
std::string traceText() { return traceview(""); }
void traceRemove() { traceview("--remove"); }
