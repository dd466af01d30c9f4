// How it works
// - startProcessing / stopProcessing run on the host dialog's thread. RUN
//   reads the mode and remembers it; STOP takes the path of the mode that
//   runs, whatever the setting says by then.
// - Graph mode: openInput, openOutput, pMC->Run; STOP is pMC->Stop (which
//   returns after the reader's worker has ended), closeInput, closeOutput.
// - Direct mode: startEngineThread creates the engine thread and polls its
//   engine state every 100 ms for up to 10 s; the thread opens input and
//   output, allocates its 128 KiB capture buffer and loops one chunk at a
//   time, setting the state to streaming after each written chunk, until the
//   stop request is set. stopEngineThread sets the request and waits on the
//   thread's handle for up to 1 s, answering messages sent to this thread.
//   The request also signals the stop event the thread hands its input
//   stream, so a capture device that delivers nothing (a soundcard still
//   starting) cannot keep the thread in its 1 s device wait past STOP's wait.
// - shutdownProcessing is the teardown: it always ends the engine thread
//   (request, then wait on its handle without limit), stops the graph and
//   closes the streams, whatever the run state says, so nothing streams
//   when the filters and the DLL go.
// - The run state, engine state and stop request are plain values, each
//   written by one side only; atomics make the hand-over visible. Nothing
//   else is shared and no lock is taken.
#include "engine/engine.h"

#include <atomic>
#include <cstdlib>

#include "engine/outputstream.h"
#include "filters/filters.h"
#include "input/inputstream.h"
#include "audio/audio.h"
#include "platform/platform.h"
#include "plugin/harnwickamp.h"
#include "settings/settings.h"

namespace {

const int kCaptureBufferBytes = 131072;
const DWORD kPollMs = 100;  // the start poll
const int kStartPolls = 100;  // 10 s for the engine thread to stream
const DWORD kStopWaitMs = 1000;  // for the engine thread to end on STOP

std::atomic<int> g_runState{RUN_STATE_STOPPED};
bool g_runDirect = false;  // the mode RUN started; host thread only

struct EngineThread {
    HANDLE handle = nullptr;
    DWORD id = 0;
    std::atomic<int> stopRequest{0};
    HANDLE stopEvent = nullptr;  // manual reset; signalled with the stop request
    std::atomic<int> state{ENGINE_STARTING};
    HWND owner = nullptr;
};
EngineThread g_engine;

bool directMode() { return readSettingFlag("DONT USE WINDOWS DX HANDLER"); }

// The streams live in the filters; the engine reaches them through the graph pointers.
InputStream& inputStream() { return synthFilterOf(pReader)->input; }
Dump& dump() { return *dumpOf(pWriter); }

int openStreams(HWND owner, int rate, int channels) {
    if (!openInput(inputStream(), owner, rate, channels)) return 0;
    Dump& d = dump();
    if (!openOutput(d.output, d.filter->outputOpen, owner, rate, channels)) {
        closeInput(inputStream());
        return 0;
    }
    return 1;
}

void closeStreams() {
    closeInput(inputStream());
    Dump& d = dump();
    closeOutput(d.output, d.filter->outputOpen);
}

// What the run met that the user must hear of, shown here on the dialog's
// thread once the streams are closed: the first device error the audio
// threads noted, and take data the disk could not keep up with.
void reportRunProblems() {
    traceStreamStatistics();
    showStreamError();
    if (streamStatistics().recordingBytesLost > 0)
        showMessage(nullptr,
                    "The disk could not keep up with the recording:\n"
                    "parts of this take are missing from its WAV files.",
                    "Harnwick Live", MB_OK | MB_ICONEXCLAMATION);
}

void showStopProblem() {
    showMessage(nullptr, "DirectX:\n\nThe plugin had a problem while stoping.", "Harnwick Live",
                MB_OK | MB_ICONERROR);
}

DWORD WINAPI engineThreadMain(LPVOID) {
    g_engine.state = ENGINE_STARTING;
    const int rate = readSampleRate();
    const int channels = readChannels();
    IHarnwickAmpDirect* direct = nullptr;
    if (FAILED(pPlugin->QueryInterface(IID_IHarnwickAmpDirect, reinterpret_cast<void**>(&direct))) || !direct) {
        g_engine.state = ENGINE_ENDED;
        return 0;
    }
    if (!openStreams(g_engine.owner, rate, channels)) {
        direct->Release();
        g_engine.state = ENGINE_ENDED;
        return 0;
    }
    float* capture = static_cast<float*>(calloc(kCaptureBufferBytes, 1));
    InputStream& in = inputStream();
    in.stopEvent = g_engine.stopEvent;
    OutputStream& out = dump().output;
    AudioThreadPriority priority = raiseAudioThreadPriority();
    // Without its buffer the thread cannot stream: it ends like a failed open.
    while (capture) {
        const int frames = readInput(in, capture, in.chunkFrames);
        direct->processBuffer(capture, frames, channels);
        writeOutput(out, capture, frames);
        g_engine.state = ENGINE_STREAMING;
        if (g_engine.stopRequest) break;
    }
    restoreThreadPriority(priority);
    in.stopEvent = nullptr;
    free(capture);
    closeStreams();
    direct->Release();
    g_engine.state = ENGINE_ENDED;
    return 0;
}

}  // namespace

int runState() { return g_runState; }
int engineState() { return g_engine.state; }

int startEngineThread(HWND owner) {
    if (g_engine.handle) return 0;
    if (!g_engine.stopEvent) g_engine.stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!g_engine.stopEvent) return 0;
    ResetEvent(g_engine.stopEvent);
    g_engine.owner = owner;
    g_engine.stopRequest = 0;
    g_engine.state = ENGINE_STARTING;
    g_engine.handle = CreateThread(nullptr, 0, engineThreadMain, nullptr, 0, &g_engine.id);
    if (!g_engine.handle) return 0;
    for (int poll = 0; poll < kStartPolls; ++poll) {
        Sleep(kPollMs);
        if (g_engine.state == ENGINE_STREAMING) return 1;
    }
    return 0;
}

namespace {

// Waits up to waitMs for the thread to end. Messages sent meanwhile are
// answered (a box the thread shows with the host dialog as its owner sends
// to this thread when it opens and closes); posted ones wait.
bool waitForEnd(HANDLE thread, DWORD waitMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD waited = GetTickCount() - start;
        const DWORD left = waitMs == INFINITE ? INFINITE : (waited >= waitMs ? 0 : waitMs - waited);
        const DWORD result = MsgWaitForMultipleObjects(1, &thread, FALSE, left, QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0) return true;
        if (result != WAIT_OBJECT_0 + 1) return false;
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

// Asks the engine thread to end and waits up to waitMs for it; 1 when it has ended.
int endEngineThread(DWORD waitMs) {
    if (!g_engine.handle) return 1;
    g_engine.stopRequest = 1;
    SetEvent(g_engine.stopEvent);
    if (!waitForEnd(g_engine.handle, waitMs)) return 0;
    CloseHandle(g_engine.handle);
    g_engine.handle = nullptr;
    return 1;
}

}  // namespace

int stopEngineThread() { return endEngineThread(kStopWaitMs); }

int startProcessing(HWND owner) {
    if (g_runState == RUN_STATE_RUNNING) return 1;
    if (g_runState == RUN_STATE_FAILED) return 0;
    const int rate = readSampleRate();
    const int channels = readChannels();
    writeSettingInt("TAKE_NUMBER", readSettingInt("TAKE_NUMBER") + 1);
    resetStreamStatistics();

    HRESULT code;
    g_runDirect = directMode();
    if (g_runDirect) {
        code = startEngineThread(owner) ? S_OK : S_FALSE;
    } else {
        if (!openStreams(owner, rate, channels)) return 0;
        code = pMC->Run();
    }
    showResultCode(code);
    g_runState = code == S_OK ? RUN_STATE_RUNNING : RUN_STATE_FAILED;
    return 1;
}

int stopProcessing() {
    if (g_runState == RUN_STATE_STOPPED) return 1;
    if (g_runState == RUN_STATE_FAILED) return 0;
    bool stopped;
    if (g_runDirect) {
        stopped = stopEngineThread() == 1;
    } else {
        HRESULT hr = pMC->Stop();
        closeStreams();
        stopped = hr == S_OK;
    }
    g_runState = stopped ? RUN_STATE_STOPPED : RUN_STATE_FAILED;
    if (!stopped) showStopProblem();
    reportRunProblems();
    return 1;
}

void shutdownProcessing() {
    endEngineThread(INFINITE);
    if (g_engine.stopEvent) CloseHandle(g_engine.stopEvent);
    g_engine.stopEvent = nullptr;
    if (pMC) pMC->Stop();
    if (pReader && pWriter) closeStreams();
    g_runState = RUN_STATE_STOPPED;
}

void resetEngineForTests() {
    if (g_engine.handle) CloseHandle(g_engine.handle);
    g_engine.handle = nullptr;
    g_engine.stopRequest = 0;
    g_engine.state = ENGINE_STARTING;
    g_runState = RUN_STATE_STOPPED;
}
