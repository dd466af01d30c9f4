// One timed run for the latency benchmark, driven as a user would. Prints one
// "<event> <epoch s>" line per moment, on the wall clock the sound server's
// recorder also uses:
//   hostrun passthru wave|waver|ds <chunkFrames> <seconds>
//     launch: starting passthru.exe (which prints "passthru open" itself),
//     end: it has finished.
//   hostrun host wave|waver|ds graph|direct <chunkFrames> <seconds> <HarnwickLive.exe>
//     Stores the sound system (waver: waveIn/waveOut with resampling), mode
//     and chunk size for the host, then:
//     launch: starting the host program, dialog: its dialog is shown,
//     run: Run! pressed, running: the button says "Stop!", stop: Stop!
//     pressed after <seconds>, end: the host has exited.
// Both programs are started the same way, so their launch times compare.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "drive.h"
#include "ui/resource.h"
#include "wallclock.h"

namespace {

const char* const kHostCaption = "Harnwick soundcard loopback host";
const char* const kSettingsKey = "SOFTWARE\\Quillmark Labs\\Harnwick Live\\Settings";
const DWORD kExitWaitMs = 30000;

int fail(const char* what) {
    fprintf(stderr, "hostrun: %s\n", what);
    return 1;
}

void stamp(const char* event) {
    printf("%s %.6f\n", event, wallClockSeconds());
    fflush(stdout);
}

std::string ownFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    char* slash = strrchr(path, '\\');
    if (slash) *slash = '\0';
    return path;
}

bool storeSetting(const char* name, const std::string& value) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    LONG r = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    return r == ERROR_SUCCESS;
}

// Starts a program with its own folder as working folder. With `output`, the
// program's stdout goes into that pipe (inheritable write end).
bool launch(const std::string& program, const std::string& arguments, PROCESS_INFORMATION& process,
            HANDLE output = nullptr) {
    std::string line = "\"" + program + "\" " + arguments;
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    std::string workFolder = program.substr(0, program.rfind('\\'));
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (output) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    }
    return CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, output != nullptr, 0, nullptr,
                          workFolder.c_str(), &startup, &process) != FALSE;
}

// Waits for the program's end (ending it after kExitWaitMs) and closes its handles.
bool finish(PROCESS_INFORMATION& process) {
    bool ended = WaitForSingleObject(process.hProcess, kExitWaitMs) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(process.hProcess, 99);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ended;
}

// Runs the baseline to its end, passing on the lines it prints.
int runPassthru(const char* system, const char* chunkFrames, const char* seconds) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return fail("cannot create a pipe");
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    PROCESS_INFORMATION process = {};
    stamp("launch");
    const bool started =
        launch(ownFolder() + "\\passthru.exe", std::string(system) + " " + chunkFrames + " " + seconds, process,
               writeEnd);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return fail("cannot start passthru.exe");
    }
    char text[512];
    DWORD got = 0;
    while (ReadFile(readEnd, text, sizeof text, &got, nullptr) && got > 0) {
        fwrite(text, 1, got, stdout);
        fflush(stdout);
    }
    CloseHandle(readEnd);
    bool ended = finish(process);
    stamp("end");
    return ended ? 0 : fail("passthru.exe did not end");
}

int runHost(const char* system, const char* mode, const char* chunkFrames, const char* seconds, const char* hostExe) {
    const bool ds = strcmp(system, "ds") == 0;
    const bool resample = strcmp(system, "waver") == 0;
    const bool direct = strcmp(mode, "direct") == 0;
    // "times" 1 skips the first-start wizard; the benchmark runs the devices
    // at the processing rate like the baseline ("DONT RESAMPLE"), or, for
    // "waver", the wave devices at twice the rate with the host's resampling.
    if (!storeSetting("USE_DIRECTX", ds ? "TRUE" : "FALSE") ||
        !storeSetting("DONT USE WINDOWS DX HANDLER", direct ? "TRUE" : "FALSE") ||
        !storeSetting(ds ? "chunks" : "chunks_wave", chunkFrames) ||
        !storeSetting("DONT RESAMPLE", resample ? "FALSE" : "TRUE") || !storeSetting("times", "1"))
        return fail("cannot store the host settings");

    PROCESS_INFORMATION process = {};
    stamp("launch");
    if (!launch(hostExe, "", process)) return fail("cannot start the host program");
    HWND dialog = drive::waitForWindow(kHostCaption, 60000);
    if (!dialog) {
        finish(process);
        return fail("the host dialog did not appear");
    }
    stamp("dialog");
    drive::pressButton(dialog, IDC_HOST_RUN_STOP);
    stamp("run");
    int status = 0;
    if (drive::waitForButtonText(dialog, IDC_HOST_RUN_STOP, "Stop!", 15000)) {
        stamp("running");
        Sleep(static_cast<DWORD>(atof(seconds) * 1000));
        drive::pressButton(dialog, IDC_HOST_RUN_STOP);
        stamp("stop");
        if (!drive::waitForButtonText(dialog, IDC_HOST_RUN_STOP, "Run!", 10000)) status = fail("the host did not stop");
    } else {
        status = fail("the host did not start running");
    }
    drive::pressButton(dialog, IDOK);
    if (!finish(process)) status = fail("the host did not exit");
    stamp("end");
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && strcmp(argv[1], "passthru") == 0) return runPassthru(argv[2], argv[3], argv[4]);
    if (argc == 7 && strcmp(argv[1], "host") == 0) return runHost(argv[2], argv[3], argv[4], argv[5], argv[6]);
    fprintf(stderr,
            "usage: hostrun passthru wave|waver|ds <chunkFrames> <seconds>\n"
            "       hostrun host wave|waver|ds graph|direct <chunkFrames> <seconds> <HarnwickLive.exe>\n");
    return 2;
}
