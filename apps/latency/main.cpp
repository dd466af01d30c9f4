// HarnwickLatency.exe: the latency check. Without arguments it shows its
// dialog; "HarnwickLatency /measure" measures once and prints the figures,
// with the exit code of exitCodeOf (0 only when a round trip was measured).
#include <windows.h>

#include <cstring>
#include <string>

#include "latency.h"

namespace {

// The program is a windows program: its output goes to the handle it was
// given (a pipe or file of a script), or else to the console it was started
// from.
HANDLE consoleOutput() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out && out != INVALID_HANDLE_VALUE) return out;
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return nullptr;
    out = CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                      nullptr);
    return out == INVALID_HANDLE_VALUE ? nullptr : out;
}

void print(HANDLE out, const std::string& text) {
    if (!out) return;
    DWORD written = 0;
    WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

int measureInConsole() {
    HANDLE out = consoleOutput();
    const LatencyResult result = measureLatency(nullptr, nullptr);
    print(out, describeResult(result) + "\r\n");
    return exitCodeOf(result.outcome);
}

bool asksForConsole(const char* commandLine) {
    return _strnicmp(commandLine, "/measure", 8) == 0 || _strnicmp(commandLine, "-measure", 8) == 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    if (asksForConsole(commandLine)) return measureInConsole();
    showLatencyDialog(nullptr);
    return 0;
}
