// HarnwickLatency.exe: the latency check. Without arguments it shows its
// dialog; "HarnwickLatency /measure" measures once and prints the figures,
// with the exit code of exitCodeOf (0 only when a round trip was measured).
#include <windows.h>

#include <cstring>
#include <string>

#include "latency.h"
#include "platform/platform.h"

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

HANDLE g_console = nullptr;

// A device error in console mode is printed, not shown in a box that would
// stop the script until someone closes it.
void printMessage(const char* text, const char* caption) {
    std::string line = std::string(caption) + ": ";
    for (const char* c = text; *c; ++c) line += *c == '\n' ? std::string(" ") : std::string(1, *c);
    print(g_console, line + "\r\n");
}

int measureInConsole() {
    HANDLE out = consoleOutput();
    g_console = out;
    setMessageSink(printMessage);
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
