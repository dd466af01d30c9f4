// The capture read: one chunk per call from the device into the caller's
// float buffer, with the input side's latency control.
//
// Runs on the reader's worker thread (graph mode) or the engine thread (direct
// mode), one at a time, between openInput and closeInput. Takes no lock,
// allocates nothing and waits only on the device's events. There is no queue
// of our own: the capture buffer (DirectSoundCapture) or the waveIn buffers
// are the queue, and a read copies one chunk out of them.
#include <cstdlib>
#include <cstring>

#include "input/inputstream.h"
#include "audio/audio.h"
#include "input/waveinshared.h"
#include "platform/platform.h"
#include "recording/recording.h"

namespace {

int silence(float* destination, int frames, int channels) {
    memset(destination, 0, sizeof(float) * static_cast<size_t>(frames) * channels);
    return frames;
}

// Waits up to waitMs for the device's event; false when the wait ran out or
// the reading thread's stop event ended it. The device's event comes first,
// so a chunk that is ready is still read.
bool waitForDevice(const InputStream& in, HANDLE deviceEvent, DWORD waitMs) {
    if (!in.stopEvent) return WaitForSingleObject(deviceEvent, waitMs) == WAIT_OBJECT_0;
    const HANDLE events[2] = {deviceEvent, in.stopEvent};
    return WaitForMultipleObjects(2, events, FALSE, waitMs) == WAIT_OBJECT_0;
}

// Bytes the driver has captured past the read offset, in [0, buffer).
int capturedBytes(const InputStream& in, int readPositionBytes) {
    int distance = readPositionBytes - in.readOffsetBytes;
    if (distance < 0) distance += in.captureBufferBytes;
    return distance;
}

// Keeps only the newest whole chunk of a backlog: the read offset moves to one
// chunk before the driver's read position, on a frame boundary.
void dropBacklog(InputStream& in, int readPositionBytes, int chunkBytes) {
    const int frameBytes = 2 * in.channels;
    int offset = readPositionBytes - chunkBytes;
    if (offset < 0) offset += in.captureBufferBytes;
    in.readOffsetBytes = offset - offset % frameBytes;
    ++streamStatistics().backlogDrops;
}

// Waits until the driver's read position has passed the end of the chunk at
// the read offset; false when it did not within the wait.
//
// The position, not a notification, decides: chunk sizes need not divide the
// buffer, and a notification left over from an earlier chunk only makes the
// loop look at the position once more. The first read after the open, and any
// read that finds more than a quarter of the buffer waiting, keep only the
// newest chunk, so the latency does not depend on how long the start took.
bool waitForCapturedChunk(InputStream& in, int chunkBytes) {
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD capturePosition = 0, readPosition = 0;
        if (FAILED(in.pCaptureBuffer->GetCurrentPosition(&capturePosition, &readPosition))) return false;
        const int position = static_cast<int>(readPosition);
        const int captured = capturedBytes(in, position);
        const int window = in.firstRead ? chunkBytes : in.captureBufferBytes / 4;
        if (captured > window) dropBacklog(in, position, chunkBytes);
        if (captured >= chunkBytes) return true;
        const DWORD waited = GetTickCount() - start;
        if (waited >= kCaptureWaitMs) return false;
        if (!waitForDevice(in, in.captureEvent, kCaptureWaitMs - waited)) return false;
    }
}

int readCapture(InputStream& in, float* destination, int frames) {
    const int bufferBytes = in.captureBufferBytes;
    const int chunkBytes = 2 * frames * in.channels;
    if (!in.captureEvent || !in.pCaptureBuffer) return silence(destination, frames, in.channels);
    const bool captured = waitForCapturedChunk(in, chunkBytes);
    in.firstRead = 0;
    if (!captured) return silence(destination, frames, in.channels);
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
    appendRecording(in.recording, in.staging, samples);
    ++streamStatistics().chunksCaptured;
    return lockedBytes / (2 * in.channels);
}

bool waveInBufferReturned(const WAVEHDR& header) {
    return (header.dwFlags & WHDR_DONE) && !(header.dwFlags & WHDR_INQUEUE);
}

// The driver returns buffers in the order they were queued, and the reads keep
// that order: a read takes only the next buffer, and only once the driver has
// marked it done. An event may be left over from a buffer handed back
// unread; the flags, not the event, decide. False when the wait ran out.
bool waitForNextWaveInBuffer(const InputStream& in) {
    const int index = g_nextBufferIndex;
    const DWORD start = GetTickCount();
    for (;;) {
        if (waveInBufferReturned(in.waveInHeaders[index])) return true;
        const DWORD waited = GetTickCount() - start;
        if (waited >= kWaveInWaitMs) return false;
        if (!waitForDevice(in, g_waveInEvents[index], kWaveInWaitMs - waited)) return false;
    }
}

// A backlog drop: up to `count` returned buffers from the next one on go back
// to the driver unread (their events consumed with them), in order, stopping
// at one the driver still holds; the read goes on after them.
void handBackOldestWaveInBuffers(InputStream& in, int count) {
    ++streamStatistics().backlogDrops;
    for (; count > 0 && waveInBufferReturned(in.waveInHeaders[g_nextBufferIndex]); --count) {
        const int index = g_nextBufferIndex;
        requeueWaveInBuffer(in, index, in.waveInHeaders[index]);
        g_nextBufferIndex = (index + 1) % in.waveInBufferCount;
    }
}

// The start of a run: of the buffers the driver has returned, the newest two
// are kept and older ones are handed back. The one chunk of backlog kept is
// the cushion the output starts with: keeping only the newest left a queue of
// 2048-frame chunks so short that every late burst of the driver ran it dry.
void skipToNewestWaveInBuffers(InputStream& in) {
    const int count = in.waveInBufferCount;
    const int newest = g_lastCompletedIndex.load();
    if (newest >= count || !waveInBufferReturned(in.waveInHeaders[newest])) return;
    const int keptFrom = (newest + count - 1) % count;
    if (g_nextBufferIndex == newest || g_nextBufferIndex == keptFrom) return;
    handBackOldestWaveInBuffers(in, (keptFrom - g_nextBufferIndex + count) % count);
}

// True from the first buffer read until kWaveInStartUpMs after it.
bool inWaveInStartUp(InputStream& in) {
    if (in.firstRead) {
        in.startUpEndTick = GetTickCount() + kWaveInStartUpMs;
        return true;
    }
    return static_cast<LONG>(in.startUpEndTick - GetTickCount()) > 0;
}

// Buffers returned from the next one on, in order: the one a read takes and
// those waiting behind it.
int returnedInOrder(const InputStream& in) {
    int count = 0;
    for (int i = g_nextBufferIndex; count < in.waveInBufferCount && waveInBufferReturned(in.waveInHeaders[i]);
         i = (i + 1) % in.waveInBufferCount)
        ++count;
    return count;
}

// True when more than half the round's time has passed since the last read
// returned: the reads normally follow each other within a chunk or two. Never
// less than kWaveInLateFloorMs, as the tick count moves in steps of up to 16 ms
// and short chunks would otherwise read as late on a tick boundary.
bool heldUpSinceLastRead(const InputStream& in) {
    const int deviceRate = in.resample ? 2 * in.sampleRate : in.sampleRate;
    long long lateMs = in.waveInBufferCount / 2 * in.chunkFrames * 1000LL / deviceRate;
    if (lateMs < kWaveInLateFloorMs) lateMs = kWaveInLateFloorMs;
    return static_cast<long long>(GetTickCount() - in.lastReadEndTick) > lateMs;
}

// The periodic jump. Buffers that waited behind every read of the period are
// a standing backlog (the reads fell behind): they are handed back, and the
// read goes on with the newest. A backlog seen only now and then is the driver
// handing buffers back in bursts (here two or three at once at 512 frames);
// jumping over it cut the audio every resync period without lowering the
// latency. On a driver that returns one buffer at a time, a standing backlog
// is all there is, and the read goes to the newest buffer as it always did.
void skipStandingBacklog(InputStream& in) {
    int standing = in.fewestWaitingInPeriod - 1;
    in.fewestWaitingInPeriod = 0;
    if (standing > 0) handBackOldestWaveInBuffers(in, standing);
}

// Notes the buffers waiting at this read; the fewest seen in the period is the
// standing backlog plus one.
void noteWaitingBuffers(InputStream& in) {
    const int waiting = returnedInOrder(in);
    if (in.fewestWaitingInPeriod == 0 || waiting < in.fewestWaitingInPeriod) in.fewestWaitingInPeriod = waiting;
}

bool anyWaveInBufferQueued(const InputStream& in) {
    for (int i = 0; i < in.waveInBufferCount; ++i)
        if (in.waveInHeaders[i].dwFlags & WHDR_INQUEUE) return true;
    return false;
}

// The driver ran out of buffers while the run was going: the reads were late
// by more than the whole round (a driver that hands buffers back in bursts of
// its own client buffer, 100 ms and more, does this to eight short ones).
// More of the buffers allocated at open join the round, so the next late read
// finds the audio waiting instead of a gap.
void growWaveInRound(InputStream& in) {
    if (in.waveInBufferCount >= kWaveInBufferCeiling) return;
    in.waveInBufferCount += kWaveInBufferGrowth;
    if (in.waveInBufferCount > kWaveInBufferCeiling) in.waveInBufferCount = kWaveInBufferCeiling;
    streamStatistics().waveInBuffers = in.waveInBufferCount;
}

// The low-pass section overshoots full scale on loud edges; keeping only the
// low 16 bits would flip the sign (a crackle), so the value saturates.
int16_t saturatedSample(float y) {
    if (y >= 32767.0f) return 32767;
    if (y <= -32768.0f) return -32768;
    return static_cast<int16_t>(y);
}

// Decimates the device-rate frames of one buffer in place: frame j of the
// result comes from device frames 2j and 2j + 1, per channel.
void decimateInPlace(InputStream& in, int16_t* buffer, int outputFrames) {
    const int channels = in.channels;
    for (int j = 0; j < outputFrames; ++j) {
        for (int c = 0; c < channels && c < 2; ++c) {
            const float y = in.resamplers[c]->decimate(buffer[(2 * j) * channels + c], buffer[(2 * j + 1) * channels + c]);
            buffer[j * channels + c] = saturatedSample(y);
        }
    }
}

}  // namespace

int readInput(InputStream& in, float* destination, int frames) {
    ++streamStatistics().chunksDelivered;
    if (!in.legacy) return readCapture(in, destination, frames);
    const int delivered = readWaveIn(in, destination, frames);
    in.lastReadEndTick = GetTickCount();
    return delivered;
}

int readWaveIn(InputStream& in, float* destination, int frames) {
    const bool late = !in.firstRead && heldUpSinceLastRead(in);
    // Every resync period skip the backlog that stood through it, so the input
    // never lags more than the driver's own bursts.
    if (in.resyncCounterFrames + frames > in.resyncPeriodFrames) {
        in.resyncCounterFrames = 0;
        skipStandingBacklog(in);
    } else {
        in.resyncCounterFrames += frames;
    }
    silence(destination, frames, in.channels);

    // With nothing queued (the first read of a run, or a driver run dry) no
    // buffer can come back: the read queues the round at once instead of
    // waiting out the device wait, which held back the first audio 200 ms.
    const bool returned = anyWaveInBufferQueued(in) && waitForNextWaveInBuffer(in);
    // The driver gathers audio from the start on while nothing is queued, and
    // hands it back in bursts once the buffers arrive: during the start-up
    // every read drops the backlog beyond one chunk, so the latency does not
    // depend on how long the start took. A read that came late (the thread
    // was held up elsewhere) finds the audio of that time waiting; read in a
    // burst, it would stay in the output queue as latency, so the start-up
    // runs again.
    if (returned && late) in.firstRead = 1;
    if (returned && inWaveInStartUp(in)) skipToNewestWaveInBuffers(in);
    if (returned) noteWaitingBuffers(in);
    if (returned && anyWaveInBufferQueued(in)) {
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
        appendRecording(in.recording, buffer, samples);
        ++streamStatistics().chunksCaptured;
        requeueWaveInBuffer(in, index, header);
        g_nextBufferIndex = (index + 1) % in.waveInBufferCount;
        in.firstRead = 0;
        return delivered;
    }
    // The driver has nothing queued (first read, or the reader fell behind):
    // hand it every free buffer, in index order, and deliver silence. A driver
    // run dry has gathered audio meanwhile, as at the start, and hands it back
    // in a burst: the start-up runs again.
    if (!anyWaveInBufferQueued(in)) {
        if (!in.firstRead) growWaveInRound(in);
        in.firstRead = 1;
        g_nextBufferIndex = 0;
    }
    ++streamStatistics().requeueAlls;
    for (int i = 0; i < in.waveInBufferCount; ++i) requeueWaveInBuffer(in, i, in.waveInHeaders[i]);
    return frames;
}

void requeueWaveInBuffer(InputStream& in, int index, WAVEHDR& header) {
    if (header.dwFlags & WHDR_INQUEUE) return;
    ResetEvent(g_waveInEvents[index]);  // a signal left from this buffer's last lap
    noteRecordingError(platform().waveInUnprepareHeader(in.waveIn, &header, sizeof header));
    header.dwFlags = 0;
    header.dwUser = static_cast<DWORD_PTR>(index);
    noteRecordingError(platform().waveInPrepareHeader(in.waveIn, &header, sizeof header));
    noteRecordingError(platform().waveInAddBuffer(in.waveIn, &header, sizeof header));
}
