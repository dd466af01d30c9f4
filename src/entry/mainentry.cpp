// MainEntryPoint: one whole hosting period on the host's calling thread, which
// must already have COM initialised as a single-threaded apartment.
#include <cstdio>

#include "engine/engine.h"
#include "entry/entry.h"
#include "platform/platform.h"
#include "recording/recording.h"
#include "ui/hostdialog.h"

namespace {

void showEntryError(const char* text) {
    char message[256];
    snprintf(message, sizeof message, "%s", text);
    showMessage(nullptr, message, "Harnwick", MB_OK | MB_ICONERROR);
}

}  // namespace

extern "C" int WINAPI MainEntryPoint(int /*unused: the host's argument has no meaning*/) {
    DllRegisterServer();
    // Takes a crash cut short get their real sizes before anything else runs.
    char takes[kRecordingPathBytes];
    if (outputDirectory(takes)) repairInterruptedTakes(takes);
    if (!createFilters()) {
        showEntryError("Could not create plugin graph. Check your DirectX installation.");
        return 1;
    }
    if (!createMC_ME()) {
        showEntryError("Could not create and connect MediaController. Check your Harnwick installation.");
        releaseInterfaces();
        return 1;
    }
    connectFilterToGraph();
    loadDefaultSetting(pPlugin);
    showHostDialog(pPlugin);
    shutdownProcessing();  // whatever the dialog left running ends before the graph goes
    saveDefaultSetting(pPlugin);
    disconnectFilterFromGraph();
    releaseFiltersAndMC();
    releaseInterfaces();
    return 1;
}
