// The capture read: one chunk per call from the device into the caller's
// float buffer, with the input side's latency control.
//
// Runs on the reader's worker thread (graph mode) or the engine thread (direct
// mode), one at a time, between openInput and closeInput. Takes no lock,
// allocates nothing and waits only on the device's events. There is no queue
// of our own: the capture buffer (DirectSoundCapture) or the eight waveIn
// buffers are the queue, and a read copies one chunk out of them.
#include <cstdlib>
#include <cstring>

#include "input/inputstream.h"
#include "audio/audio.h"
#include "input/waveinshared.h"
#include "platform/platform.h"
#include "recording/recording.h"

namespace {

// Nearest single-precision values to 1/32767 and 1/33000.
float bitsToFloat(uint32_t bits) {
    float value;
    memcpy(&value, &bits, sizeof value);
    return value;
}
const float kCaptureScale = bitsToFloat(0x38000100u);
const float kWaveInScale = bitsToFloat(0x37FE3343u);

int silence(float* destination, int frames, int channels) {
    memset(destination, 0, sizeof(float) * static_cast<size_t>(frames) * channels);
    return frames;
}

// The notification to wait for: the first at or past target; none past it
// means the target wrapped, and the middle entry stands in.
HANDLE notificationFor(const InputStream& in, int targetBytes) {
    for (int i = 0; i < in.notificationCount; ++i)
        if (static_cast<int>(in.notifications[i].dwOffset) >= targetBytes) return in.notifications[i].hEventNotify;
    return in.notifications[in.notificationCount / 2].hEventNotify;
}

// True when the driver's read position has run more than a quarter of the
// buffer away from the read offset.
bool captureBacklogTooLong(const InputStream& in, int readPositionBytes) {
    const int bufferBytes = in.captureBufferBytes;
    int distance = readPositionBytes - in.readOffsetBytes;
    if (distance < -(bufferBytes / 2)) distance += bufferBytes;
    return std::abs(distance) > bufferBytes / 4;
}

int readCapture(InputStream& in, float* destination, int frames) {
    const int bufferBytes = in.captureBufferBytes;
    const int chunkBytes = 2 * frames * in.channels;
    if (in.notificationCount == 0 || !in.pCaptureBuffer) return silence(destination, frames, in.channels);
    for (;;) {
        int targetBytes = in.readOffsetBytes + chunkBytes;
        if (targetBytes >= bufferBytes) targetBytes -= bufferBytes;
        HANDLE event = notificationFor(in, targetBytes);
        if (WaitForMultipleObjects(1, &event, FALSE, kCaptureWaitMs) != WAIT_OBJECT_0)
            return silence(destination, frames, in.channels);
        DWORD capturePosition = 0, readPosition = 0;
        in.pCaptureBuffer->GetCurrentPosition(&capturePosition, &readPosition);
        if (!captureBacklogTooLong(in, static_cast<int>(readPosition))) break;
        // Drop the backlog and wait for a whole new chunk after the driver.
        for (int i = 0; i < in.notificationCount; ++i) ResetEvent(in.notifications[i].hEventNotify);
        in.readOffsetBytes = static_cast<int>(readPosition);
    }
    void* part1 = nullptr;
    void* part2 = nullptr;
    DWORD bytes1 = 0, bytes2 = 0;
    if (FAILED(in.pCaptureBuffer->Lock(static_cast<DWORD>(in.readOffsetBytes), static_cast<DWORD>(chunkBytes), &part1,
                                       &bytes1, &part2, &bytes2, 0)))
        return silence(destination, frames, in.channels);
    uint8_t* staging = reinterpret_cast<uint8_t*>(in.staging);
    if (part1) memcpy(staging, part1, bytes1);
    if (part2) memcpy(staging + bytes1, part2, bytes2);
    in.pCaptureBuffer->Unlock(part1, bytes1, part2, bytes2);

    const int lockedBytes = static_cast<int>(bytes1 + bytes2);
    in.readOffsetBytes += lockedBytes;
    if (in.readOffsetBytes >= bufferBytes) in.readOffsetBytes -= bufferBytes;
    const int samples = lockedBytes / 2;
    pcm16ToFloat(in.staging, destination, samples, kCaptureScale);
    writeSamples(in.staging, samples, in.recordingFile);
    return lockedBytes / (2 * in.channels);
}

// Waits for the oldest completed buffer from the next index on. Returns false
// on time-out; otherwise the next index is the buffer whose event fired.
bool waitForWaveInBuffer() {
    HANDLE ordered[kWaveInBufferCount];
    for (int k = 0; k < kWaveInBufferCount; ++k)
        ordered[k] = g_waveInEvents[(g_nextBufferIndex + k) % kWaveInBufferCount];
    const DWORD result = WaitForMultipleObjects(kWaveInBufferCount, ordered, FALSE, kWaveInWaitMs);
    if (result == WAIT_TIMEOUT) return false;
    if (result < WAIT_OBJECT_0 + kWaveInBufferCount)
        g_nextBufferIndex = (g_nextBufferIndex + static_cast<int>(result - WAIT_OBJECT_0)) % kWaveInBufferCount;
    return true;
}

bool anyWaveInBufferQueued(const InputStream& in) {
    for (const WAVEHDR& header : in.waveInHeaders)
        if (header.dwFlags & WHDR_INQUEUE) return true;
    return false;
}

// Decimates the device-rate frames of one buffer in place: frame j of the
// result comes from device frames 2j and 2j + 1, per channel.
void decimateInPlace(InputStream& in, int16_t* buffer, int outputFrames) {
    const int channels = in.channels;
    for (int j = 0; j < outputFrames; ++j) {
        for (int c = 0; c < channels && c < 2; ++c) {
            const float y = in.resamplers[c]->decimate(buffer[(2 * j) * channels + c], buffer[(2 * j + 1) * channels + c]);
            buffer[j * channels + c] = static_cast<int16_t>(static_cast<int>(y));
        }
    }
}

}  // namespace

int readInput(InputStream& in, float* destination, int frames) {
    if (in.legacy) return readWaveIn(in, destination, frames);
    return readCapture(in, destination, frames);
}

int readWaveIn(InputStream& in, float* destination, int frames) {
    // Every resync period jump to the buffer the driver finished last, skipping
    // older completed ones, so the input never lags more than that.
    if (in.resyncCounterFrames + frames > in.resyncPeriodFrames) {
        in.resyncCounterFrames = 0;
        g_nextBufferIndex = g_lastCompletedIndex.load();
    } else {
        in.resyncCounterFrames += frames;
    }
    silence(destination, frames, in.channels);

    if (waitForWaveInBuffer() && anyWaveInBufferQueued(in)) {
        const int index = g_nextBufferIndex;
        WAVEHDR& header = in.waveInHeaders[index];
        int16_t* buffer = in.waveInBuffers[index];
        int samples = static_cast<int>(header.dwBytesRecorded / 2);
        if (samples > in.channels * frames) samples = in.channels * frames;
        samples -= samples % 4;
        int delivered = frames;
        if (in.resample) {
            decimateInPlace(in, buffer, frames / 2);
            samples /= 2;
            delivered = frames / 2;
        }
        pcm16ToFloat(buffer, destination, samples, kWaveInScale);
        writeSamples(buffer, samples, in.recordingFile);
        requeueWaveInBuffer(in, index, header);
        g_nextBufferIndex = (index + 1) % kWaveInBufferCount;
        return delivered;
    }
    // The driver has nothing queued (first read, or the reader fell behind):
    // hand it every free buffer and deliver silence.
    for (int i = 0; i < kWaveInBufferCount; ++i) requeueWaveInBuffer(in, i, in.waveInHeaders[i]);
    return frames;
}

void requeueWaveInBuffer(InputStream& in, int index, WAVEHDR& header) {
    if (header.dwFlags & WHDR_INQUEUE) return;
    reportRecordingError(platform().waveInUnprepareHeader(in.waveIn, &header, sizeof header));
    header.dwFlags = 0;
    header.dwUser = static_cast<DWORD_PTR>(index);
    reportRecordingError(platform().waveInPrepareHeader(in.waveIn, &header, sizeof header));
    reportRecordingError(platform().waveInAddBuffer(in.waveIn, &header, sizeof header));
}
