// Plays a short session on a running host as a user would: waits for the host
// dialog, answers the first-start wizard, presses Run!, takes a picture of the
// dialog while it runs, lets it play, presses Stop! and Exit.
// Usage: autopilot <seconds to play> <picture.bmp>
#include <cstdio>
#include <cstdlib>

#include "drive.h"
#include "ui/resource.h"

namespace {

const char* const kHostCaption = "Harnwick soundcard loopback host";
const char* const kWizardCaption = "Harnwick Live configuration wizard";

int fail(const char* what) {
    fprintf(stderr, "autopilot: %s\n", what);
    return 1;
}

// Accepts the wizard's pages (both carry its caption) while they show up.
void answerWizard() {
    for (int pages = 0; pages < 4; ++pages) {
        HWND page = drive::waitForWindow(kWizardCaption, 1500);
        if (!page) return;
        printf("autopilot: accepting a wizard page\n");
        drive::pressButton(page, IDOK);
        drive::waitForWindowGone(page, 5000);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return fail("usage: autopilot <seconds to play> <picture.bmp>");
    const int seconds = atoi(argv[1]);
    HWND host = drive::waitForWindow(kHostCaption, 60000);
    if (!host) return fail("the host dialog did not appear within a minute");
    answerWizard();

    drive::pressButton(host, IDC_HOST_RUN_STOP);
    if (!drive::waitForButtonText(host, IDC_HOST_RUN_STOP, "Stop!", 15000))
        return fail("the host did not start running (no \"Stop!\" within 15 s)");
    printf("autopilot: running\n");
    Sleep(1000);
    if (!drive::saveWindowPicture(host, argv[2])) fprintf(stderr, "autopilot: no picture taken\n");
    Sleep(seconds > 1 ? (seconds - 1) * 1000 : 0);

    drive::pressButton(host, IDC_HOST_RUN_STOP);
    if (!drive::waitForButtonText(host, IDC_HOST_RUN_STOP, "Run!", 5000)) return fail("the host did not stop");
    printf("autopilot: stopped\n");
    drive::pressButton(host, IDOK);
    if (!drive::waitForWindowGone(host, 15000)) return fail("the host dialog did not close");
    printf("autopilot: done\n");
    return 0;
}
