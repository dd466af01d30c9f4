// Audio thread priority: the multimedia class scheduler's "Pro Audio" task
// where the system has it, looked up at run time so that systems without it
// still start; otherwise time-critical thread priority.
#include "audio/audio.h"
#include "platform/platform.h"
#include "tracelog/trace.h"

namespace {

typedef HANDLE(WINAPI* SetTaskFn)(LPCWSTR, LPDWORD);
typedef BOOL(WINAPI* RevertTaskFn)(HANDLE);

}  // namespace

AudioThreadPriority raiseAudioThreadPriority() {
    AudioThreadPriority priority;
    HMODULE avrt = platform().loadLibraryA("avrt.dll");
    SetTaskFn setTask = avrt ? reinterpret_cast<SetTaskFn>(
                                   reinterpret_cast<void*>(GetProcAddress(avrt, "AvSetMmThreadCharacteristicsW")))
                             : nullptr;
    DWORD taskIndex = 0;
    if (setTask) priority.task = setTask(L"Pro Audio", &taskIndex);
    if (priority.task) {
        priority.avrt = avrt;
        TRACE(TRACE_INFO, "audio thread: multimedia class scheduler task \"Pro Audio\"");
        return priority;
    }
    if (avrt) FreeLibrary(avrt);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    TRACE(TRACE_INFO, "audio thread: time-critical priority (no multimedia class scheduler)");
    return priority;
}

void restoreThreadPriority(AudioThreadPriority& priority) {
    if (priority.task) {
        RevertTaskFn revert = reinterpret_cast<RevertTaskFn>(
            reinterpret_cast<void*>(GetProcAddress(priority.avrt, "AvRevertMmThreadCharacteristics")));
        if (revert) revert(priority.task);
        FreeLibrary(priority.avrt);
    } else {
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
    }
    priority = AudioThreadPriority();
    TRACE(TRACE_INFO, "audio thread: back to normal priority");
}
