// Input stream set-up and tear-down.
//
// openInput runs on the thread that starts a run and closeInput on the one
// that stops it; both hold the owner's lock. Reads never overlap them: the
// run control opens before the reading thread starts and closes after it has
// stopped. Everything a read needs (device buffers, staging buffer,
// resamplers, recording file) is acquired here and released in reverse order
// by closeInput.
#include "input/inputstream.h"

#include <new>

#include "platform/platform.h"
#include "recording/recording.h"
#include "settings/settings.h"
#include "tracelog/trace.h"

namespace {

int64_t g_sampleClock = 0;

class OwnerLock {
public:
    explicit OwnerLock(CRITICAL_SECTION* lock) : lock_(lock) {
        if (lock_) EnterCriticalSection(lock_);
    }
    ~OwnerLock() {
        if (lock_) LeaveCriticalSection(lock_);
    }
    OwnerLock(const OwnerLock&) = delete;
    OwnerLock& operator=(const OwnerLock&) = delete;

private:
    CRITICAL_SECTION* lock_;
};

}  // namespace

int64_t sampleClock() { return g_sampleClock; }
void advanceSampleClock(int frames) { g_sampleClock += frames; }

int openInput(InputStream& in, HWND /*window*/, int sampleRate, int channels) {
    if (in.isOpen) return 1;
    OwnerLock hold(in.lock);

    const DeviceChoice choice = readDeviceChoice();
    in.resample = choice.resample ? 1 : 0;
    createResamplers(in.resamplers, choice.resample, sampleRate);
    in.chunkFrames = choice.chunkFrames;
    in.legacy = choice.directSound ? 0 : 1;
    in.sampleRate = sampleRate;
    in.channels = channels;
    g_sampleClock = 0;
    in.resyncPeriodFrames = readResyncPeriodFrames(sampleRate);
    in.resyncCounterFrames = 0;
    in.fewestWaitingInPeriod = 0;
    in.firstRead = 1;
    in.captureBufferBytes = kCaptureBufferRequestBytes;
    TRACE(TRACE_INFO, "openInput: %s, %d Hz, %d channels, %d frames per chunk, resample %d",
          in.legacy ? "waveIn" : "DirectSoundCapture", sampleRate, channels, in.chunkFrames, in.resample);

    if (!openInputDevice(in)) {
        // Nothing of a failed open outlives it.
        destroyResamplers(in.resamplers);
        TRACE(TRACE_ERROR, "openInput: the capture device did not open");
        return 0;
    }
    in.staging = new (std::nothrow) int16_t[kStagingBytes / sizeof(int16_t)];
    if (!in.staging) {
        closeInputDevice(in);
        destroyResamplers(in.resamplers);
        showMessage(nullptr, "There is not enough memory to start the soundcard input.", "Harnwick Live",
                    MB_OK | MB_ICONSTOP);
        return 0;
    }
    const HANDLE file = in.mayRecord ? openRecording(1, channels, sampleRate, nullptr) : INVALID_HANDLE_VALUE;
    startRecordingQueue(in.recording, file);
    in.isOpen = 1;
    return 1;
}

int closeInput(InputStream& in, int /*flag*/) {
    if (!in.isOpen) return 1;
    OwnerLock hold(in.lock);
    HANDLE file = stopRecordingQueue(in.recording);
    streamStatistics().recordingBytesLost += in.recording.lostBytes;
    closeRecording(file, in.channels, in.sampleRate);
    destroyResamplers(in.resamplers);
    closeInputDevice(in);
    in.isOpen = 0;
    delete[] in.staging;
    in.staging = nullptr;
    TRACE(TRACE_INFO, "closeInput: closed");
    return 1;
}
