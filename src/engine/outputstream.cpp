// Output stream set-up and tear-down.
//
// openOutput runs on the thread that starts a run and closeOutput on the one
// that stops it; the write path (writeOutput) runs only in between, so no lock
// is taken here. Everything writeOutput needs (device, header buffers,
// conversion and work buffers, upsamplers, recording file) is acquired here
// and released by closeOutput in reverse order.
#include "engine/outputstream.h"

#include <new>

#include "platform/platform.h"
#include "recording/recording.h"
#include "settings/settings.h"
#include "tracelog/trace.h"

namespace {

// "out lat ms" at rate and channels in bytes, lowered to a multiple of 4
// (toward minus infinity, so a negative offset moves further from zero).
int latencyOffsetBytes(int ms, int sampleRate, int channels) {
    const float bytes = static_cast<float>(ms * sampleRate) * 0.001f * 2.0f * static_cast<float>(channels);
    const int truncated = static_cast<int>(bytes);
    return truncated & ~3;
}

void freeBuffers(OutputStream& out) {
    delete[] out.conversion;
    out.conversion = nullptr;
    delete[] out.work;
    out.work = nullptr;
}

}  // namespace

int openOutput(OutputStream& out, int& isOpen, HWND owner, int sampleRate, int channels) {
    if (isOpen) return 1;
    const DeviceChoice choice = readDeviceChoice();
    const bool directSound = choice.directSound;
    out.upsample = choice.resample ? 1 : 0;
    createResamplers(out.upsamplers, choice.resample, sampleRate);
    out.deviceMode = directSound ? 0 : 1;
    out.chunkFrames = choice.chunkFrames;
    out.ringBytes = (6 * sampleRate * channels) & ~3;  // 3 s of 16-bit audio
    out.writePositionBytes = 0;
    out.channels = channels;
    out.sampleRate = sampleRate;
    out.latencyOffsetBytes = latencyOffsetBytes(readSettingInt("out lat ms"), sampleRate, channels);
    out.resyncPeriodFrames = readResyncPeriodFrames(sampleRate);
    out.framesSinceCheck = 0;
    out.firstWrite = 1;
    TRACE(TRACE_INFO, "openOutput: %s, %d Hz, %d channels, %d frames per chunk, ring %d, offset %d, upsample %d",
          directSound ? "DirectSound" : "waveOut", sampleRate, channels, out.chunkFrames, out.ringBytes,
          out.latencyOffsetBytes, out.upsample);

    if (!openOutputDevice(out, owner, sampleRate, channels)) {
        // Nothing of a failed open outlives it.
        destroyResamplers(out.upsamplers);
        TRACE(TRACE_ERROR, "openOutput: the playback device did not open");
        return 0;
    }
    out.resyncWindowBytes = out.ringBytes / 4;  // the device's ring; set anew at the first write
    out.resyncSlackBytes = 0;
    out.conversion = new (std::nothrow) int16_t[kConversionBufferBytes / sizeof(int16_t)];
    out.work = new (std::nothrow) float[kWorkBufferBytes / sizeof(float)];
    if (!out.conversion || !out.work) {
        freeBuffers(out);
        closeOutputDevice(out);
        destroyResamplers(out.upsamplers);
        showMessage(owner, "There is not enough memory to start the soundcard output.", "Harnwick Live",
                    MB_OK | MB_ICONERROR);
        return 0;
    }
    isOpen = 1;
    const HANDLE file = out.mayRecord ? openRecording(0, channels, sampleRate, nullptr) : INVALID_HANDLE_VALUE;
    startRecordingQueue(out.recording, file);
    return 1;
}

int closeOutput(OutputStream& out, int& isOpen) {
    if (!isOpen) return 1;
    HANDLE file = stopRecordingQueue(out.recording);
    streamStatistics().recordingBytesLost += out.recording.lostBytes;
    closeRecording(file, out.channels, out.sampleRate);
    destroyResamplers(out.upsamplers);
    closeOutputDevice(out);
    writeSettingInt("resync_bytes_out learned", out.latencyOffsetBytes);
    isOpen = 0;
    freeBuffers(out);
    TRACE(TRACE_INFO, "closeOutput: closed");
    return 1;
}
