#include "platform/platform.h"

#include <shellapi.h>

namespace {

PlatformApi realPlatform() {
    PlatformApi api = {};
    api.directSoundEnumerateA = DirectSoundEnumerateA;
    api.directSoundCaptureEnumerateA = DirectSoundCaptureEnumerateA;
    api.directSoundCreate = DirectSoundCreate;
    api.directSoundCaptureCreate = DirectSoundCaptureCreate;

    api.waveOutGetNumDevs = waveOutGetNumDevs;
    api.waveOutGetDevCapsA = waveOutGetDevCapsA;
    api.waveOutOpen = waveOutOpen;
    api.waveOutPrepareHeader = waveOutPrepareHeader;
    api.waveOutUnprepareHeader = waveOutUnprepareHeader;
    api.waveOutWrite = waveOutWrite;
    api.waveOutReset = waveOutReset;
    api.waveOutClose = waveOutClose;
    api.waveOutGetErrorTextA = waveOutGetErrorTextA;

    api.waveInGetNumDevs = waveInGetNumDevs;
    api.waveInGetDevCapsA = waveInGetDevCapsA;
    api.waveInOpen = waveInOpen;
    api.waveInPrepareHeader = waveInPrepareHeader;
    api.waveInUnprepareHeader = waveInUnprepareHeader;
    api.waveInAddBuffer = waveInAddBuffer;
    api.waveInStart = waveInStart;
    api.waveInStop = waveInStop;
    api.waveInReset = waveInReset;
    api.waveInClose = waveInClose;
    api.waveInGetErrorTextA = waveInGetErrorTextA;

    api.messageBoxA = MessageBoxA;
    api.shBrowseForFolderA = SHBrowseForFolderA;
    api.shGetPathFromIDListA = SHGetPathFromIDListA;
    api.shellExecuteA = ShellExecuteA;
    api.getKeyState = GetKeyState;
    api.getAsyncKeyState = GetAsyncKeyState;

    api.getModuleFileNameA = GetModuleFileNameA;
    api.getSystemTimeAsFileTime = GetSystemTimeAsFileTime;
    api.waitForSingleObject = WaitForSingleObject;
    api.loadLibraryA = LoadLibraryA;
    api.globalAlloc = GlobalAlloc;
    api.regSetValueExA = RegSetValueExA;
    return api;
}

}  // namespace

PlatformApi& platform() {
    static PlatformApi api = realPlatform();
    return api;
}

PlatformOverride::PlatformOverride() : saved_(platform()) {}

PlatformOverride::~PlatformOverride() { platform() = saved_; }

namespace {
HINSTANCE g_moduleInstance = nullptr;
}

HINSTANCE moduleInstance() { return g_moduleInstance ? g_moduleInstance : GetModuleHandleA(nullptr); }

void setModuleInstance(HINSTANCE instance) { g_moduleInstance = instance; }

namespace {
MessageSink g_messageSink = nullptr;

// Nobody is there to choose: the answer that changes nothing and gives up
// (Cancel, Abort or No), or OK where that is the only button.
int unattendedAnswer(UINT flags) {
    static const int kAnswers[] = {IDOK, IDCANCEL, IDABORT, IDCANCEL, IDNO, IDCANCEL, IDCANCEL};
    const UINT type = flags & MB_TYPEMASK;
    return type < sizeof kAnswers / sizeof *kAnswers ? kAnswers[type] : IDCANCEL;
}
}  // namespace

void setMessageSink(MessageSink sink) { g_messageSink = sink; }

int showMessage(HWND owner, const char* text, const char* caption, UINT flags) {
    if (g_messageSink) {
        g_messageSink(text, caption);
        return unattendedAnswer(flags);
    }
    return platform().messageBoxA(owner, text, caption, flags);
}
