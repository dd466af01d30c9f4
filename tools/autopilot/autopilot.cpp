// Plays a short session on a running host as a user would: waits for the host
// dialog, answers the first-start wizard (and any "Harnwick Live" message
// before it, printing its text), presses Run!, takes a picture of the dialog
// while it runs, lets it play, presses Stop! and Exit.
// Usage: autopilot <seconds to play> <picture.bmp> [program]
// With a program, the autopilot starts it first and waits for it to end
// (and ends it when the session failed).
#include <cstdio>
#include <cstdlib>

#include "drive.h"
#include "ui/resource.h"

namespace {

const char* const kHostCaption = "Harnwick soundcard loopback host";
const char* const kWizardCaption = "Harnwick Live configuration wizard";
const char* const kMessageCaption = "Harnwick Live";

int fail(const char* what) {
    fprintf(stderr, "autopilot: %s\n", what);
    return 1;
}

// Answers what the host shows after it opened, until nothing new shows for
// 1.5 s: a message box is printed and confirmed, the wizard's pages (both
// carry its caption) are accepted.
void answerStartUp() {
    for (DWORD quiet = 0; quiet < 1500;) {
        if (HWND box = drive::waitForWindow(kMessageCaption, 0)) {
            std::string text = drive::answerMessageBox(box);
            for (char& c : text)
                if (c == '\n' || c == '\r') c = ' ';
            printf("autopilot: message: %s\n", text.c_str());
            quiet = 0;
        } else if (HWND page = drive::waitForWindow(kWizardCaption, 0)) {
            printf("autopilot: accepting a wizard page\n");
            drive::pressButton(page, IDOK);
            drive::waitForWindowGone(page, 5000);
            quiet = 0;
        } else {
            Sleep(50);
            quiet += 50;
        }
    }
}

}  // namespace

int playSession(int seconds, const char* picture) {
    HWND host = drive::waitForWindow(kHostCaption, 60000);
    if (!host) return fail("the host dialog did not appear within a minute");
    answerStartUp();

    drive::pressButton(host, IDC_HOST_RUN_STOP);
    if (!drive::waitForButtonText(host, IDC_HOST_RUN_STOP, "Stop!", 15000))
        return fail("the host did not start running (no \"Stop!\" within 15 s)");
    printf("autopilot: running\n");
    Sleep(1000);
    if (!drive::saveWindowPicture(host, picture)) fprintf(stderr, "autopilot: no picture taken\n");
    Sleep(seconds > 1 ? (seconds - 1) * 1000 : 0);

    drive::pressButton(host, IDC_HOST_RUN_STOP);
    if (!drive::waitForButtonText(host, IDC_HOST_RUN_STOP, "Run!", 5000)) return fail("the host did not stop");
    printf("autopilot: stopped\n");
    drive::pressButton(host, IDOK);
    if (!drive::waitForWindowGone(host, 15000)) return fail("the host dialog did not close");
    printf("autopilot: done\n");
    return 0;
}

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) return fail("usage: autopilot <seconds to play> <picture.bmp> [program]");
    if (argc == 3) return playSession(atoi(argv[1]), argv[2]);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION program = {};
    if (!CreateProcessA(argv[3], nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &program))
        return fail("the program could not be started");
    int status = playSession(atoi(argv[1]), argv[2]);
    if (WaitForSingleObject(program.hProcess, status == 0 ? 15000 : 0) != WAIT_OBJECT_0) {
        if (status == 0) status = fail("the program did not end after Exit");
        TerminateProcess(program.hProcess, 1);
    }
    CloseHandle(program.hThread);
    CloseHandle(program.hProcess);
    return status;
}
