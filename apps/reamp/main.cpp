// HarnwickReamp.exe: a recorded dry take through the amplifier plug-in.
//   HarnwickReamp <input.wav> [<output.wav>] [--state <file>] [--chunk <frames>] [--float]
// Exit code 0 when the output was written, 1 when it was not, 2 for a wrong command line.
#include <windows.h>

#include <cstdio>

#include "reamp.h"

namespace {

// Ctrl+C ends the run without output; the work file is removed.
BOOL WINAPI onConsoleBreak(DWORD) {
    requestReampCancel();
    return TRUE;
}

bool stdoutIsConsole() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != FALSE;
}

}  // namespace

int main(int argc, char** argv) {
    ReampOptions options;
    std::string problem = parseReampArguments(argc - 1, argv + 1, options);
    if (!problem.empty()) {
        fprintf(stderr, "HarnwickReamp: %s\n%s\n", problem.c_str(), kReampUsage);
        return 2;
    }
    options.showProgress = stdoutIsConsole();
    SetConsoleCtrlHandler(onConsoleBreak, TRUE);
    ReampReport report;
    const int result = runReamp(options, report);
    fprintf(result == 0 ? stdout : stderr, "%s\n", report.message.c_str());
    return result;
}
