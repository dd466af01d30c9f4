// The output write path: one processed chunk per call onto the device, with
// the output side's latency control.
//
// Called by one thread at a time (the dump filter's receive step under its
// receive lock, or the engine thread) between openOutput and closeOutput.
// Allocates nothing and never waits: a full waveOut queue or a failed lock
// drops the chunk. The device reads the DirectSound ring and the queued
// waveOut headers concurrently; a header is ours only while WHDR_DONE is set.
//
// The output recording holds the processed signal as it left the plug-in, at
// the processing rate and without the waveOut path's fades and cuts, so the
// file's declared rate is right and it never holds stale buffer contents.
#include <cstring>

#include "engine/outputstream.h"
#include "audio/audio.h"
#include "platform/platform.h"
#include "recording/recording.h"

namespace {

const float kFadeStep = 0.01f;
// Limits set by the fixed buffers: 65536 samples in the conversion buffer,
// 16384 samples (after upsampling) in a waveOut buffer.
const int kMaxDirectSoundSamples = kConversionBufferBytes / 2;
const int kMaxWaveOutSamples = kWaveOutBufferBytes / 2;

int wholeFramesWithin(int frames, int channels, int maxSamples) {
    return frames * channels > maxSamples ? maxSamples / channels : frames;
}

void record(OutputStream& out, const float* samples, int count) {
    if (!out.recording.ring) return;
    floatToPcm16(samples, out.conversion, count, 1.0f);
    appendRecording(out.recording, out.conversion, count);
}

// Doubles the chunk into the work buffer through the upsamplers: each input
// frame gives two output frames, channel by channel. Returns the samples made.
int upsampleIntoWork(OutputStream& out, const float* samples, int count) {
    float* work = out.work;
    if (out.channels == 1) {
        for (int i = 0; i < count; ++i) out.upsamplers[0]->interpolate(samples[i], work[2 * i], work[2 * i + 1]);
        return 2 * count;
    }
    for (int frame = 0; frame < count / 2; ++frame) {
        float* pair = work + 4 * frame;
        out.upsamplers[0]->interpolate(samples[2 * frame], pair[0], pair[2]);
        out.upsamplers[1]->interpolate(samples[2 * frame + 1], pair[1], pair[3]);
    }
    return 2 * count;
}

// Converts with a gain rising 0.01 per sample until it reaches 1.0.
void fadeIn(OutputStream& out, const float* source, int count, int16_t* destination) {
    int i = 0;
    if (out.fadeGain != 1.0f) {
        for (; i < count; ++i) {
            destination[i] = floatToPcm16(source[i], out.fadeGain);
            out.fadeGain += kFadeStep;
            if (out.fadeGain > 1.0f) {
                out.fadeGain = 1.0f;
                break;  // sample i is converted again at unity below
            }
        }
    }
    floatToPcm16(source + i, destination + i, count - i, 1.0f);
}

// Converts with a gain falling 0.01 per sample. Once it has run out, the chunk
// is cut at the later of that sample and just past its middle, on a whole
// frame; returns the samples to play.
int fadeOut(OutputStream& out, const float* source, int count, int16_t* destination) {
    int played = count;
    for (int i = 0; i < count; ++i) {
        destination[i] = floatToPcm16(source[i], out.fadeGain);
        out.fadeGain -= kFadeStep;
        if (out.fadeGain < 0.0f) {
            out.fadeGain = 0.0f;
            played = i;
            if (i > count / 2) break;
        }
    }
    // The cut falls between frames: half a frame would swap the channels of
    // everything queued after it.
    return played - played % out.channels;
}

// Where the device's write cursor plus the latency offset lies in the ring.
// The offset may exceed the ring ("out lat ms" of 3 s and more, or a small
// primary buffer), so the sum wraps modulo the ring.
int resyncTarget(const OutputStream& out, DWORD writeCursor) {
    const long long ring = out.ringBytes;
    long long target = (static_cast<long long>(writeCursor) + out.latencyOffsetBytes) % ring;
    if (target < 0) target += ring;
    return static_cast<int>(target) & ~3;
}

// True when the play cursor has overtaken the write position: the write
// position lies in the half ring behind it.
bool overtaken(const OutputStream& out, DWORD playCursor) {
    int ahead = out.writePositionBytes - static_cast<int>(playCursor);
    if (ahead < 0) ahead += out.ringBytes;
    return ahead > out.ringBytes / 2;
}

// Writes silence over what the device has played since the last call, so a
// play cursor that overtakes the write position plays silence, not the audio
// of a lap earlier.
void clearPlayedAudio(OutputStream& out, DWORD playCursor) {
    const int played = static_cast<int>(playCursor) & ~3;
    int bytes = played - out.clearedUpToBytes;
    if (bytes < 0) bytes += out.ringBytes;
    if (bytes == 0) return;
    void* part1 = nullptr;
    void* part2 = nullptr;
    DWORD bytes1 = 0, bytes2 = 0;
    if (FAILED(out.pWriteBuffer->Lock(static_cast<DWORD>(out.clearedUpToBytes), static_cast<DWORD>(bytes), &part1,
                                      &bytes1, &part2, &bytes2, 0)))
        return;
    if (part1) memset(part1, 0, bytes1);
    if (part2) memset(part2, 0, bytes2);
    out.pWriteBuffer->Unlock(part1, bytes1, part2, bytes2);
    out.clearedUpToBytes = played;
}

// The window around the target in which a resync leaves the write position
// alone, chosen from what the device shows at the first write.
// - Ahead: a quarter ring (750 ms) let the round trip wander by that much
//   within a run and from one start to the next. Two chunks (the capture's
//   own bursts) plus twice the gap the device keeps between its play and write
//   cursors (its mixing step) cover the steady jitter, so the latency stays
//   where "out lat ms" puts it. Never more than a quarter ring.
// - Behind: the cursors move in steps of that gap, so a position that is on
//   time reads up to one step behind the target; moving it then would only
//   add a step of latency with a click. Only a position further behind moves.
void chooseResyncWindow(OutputStream& out, DWORD playCursor, DWORD writeCursor) {
    int gap = static_cast<int>(writeCursor) - static_cast<int>(playCursor);
    if (gap < 0) gap += out.ringBytes;
    const int ahead = (2 * out.chunkFrames * out.channels * 2 + 2 * gap) & ~3;
    if (ahead < out.resyncWindowBytes) out.resyncWindowBytes = ahead;
    out.resyncSlackBytes = gap & ~3;
    streamStatistics().outputWindowMs = out.resyncWindowBytes * 1000 / (2 * out.channels * out.sampleRate);
}

// Before each chunk: the first chunk after the open (the position taken at
// open is stale by the time audio arrives) and any chunk the device has
// overtaken go to the write cursor plus the latency offset at once; played
// audio is cleared; then the periodic check.
void followDevice(OutputStream& out, int frames) {
    DWORD playCursor = 0, writeCursor = 0;
    if (FAILED(out.pWriteBuffer->GetCurrentPosition(&playCursor, &writeCursor))) return;
    if (out.firstWrite) {
        out.clearedUpToBytes = static_cast<int>(playCursor) & ~3;
        chooseResyncWindow(out, playCursor, writeCursor);
    }
    if (out.firstWrite || overtaken(out, playCursor)) {
        out.writePositionBytes = resyncTarget(out, writeCursor);
        out.framesSinceCheck = 0;
        if (!out.firstWrite) ++streamStatistics().outputResyncs;
        out.firstWrite = 0;
        return;
    }
    clearPlayedAudio(out, playCursor);
    resyncOutput(out, frames);
}

// The queue limit follows the device's own buffering. A device that holds
// more than 8 chunks before it plays (a shared 100 ms client buffer holds nine
// of 512 frames) would otherwise have nearly every chunk faded and cut. The
// limit is the headers the device held when it handed back its first one (the
// level the queue settles at) plus twice the most it handed back between two
// writes (its own jitter around that level), at least 8 and at most the
// ceiling. A limit of just the level cut the queue whenever it wandered one
// header above it. queued: headers queued now, before this write.
void followWaveOutBuffering(OutputStream& out, int queued) {
    const int returned = out.queuedAfterWrite - queued;
    if (returned <= 0) return;
    if (out.deviceHeldHeaders == 0) out.deviceHeldHeaders = out.queuedAfterWrite;
    if (returned > out.mostReturnedHeaders) out.mostReturnedHeaders = returned;
    int limit = out.deviceHeldHeaders + 2 * out.mostReturnedHeaders;
    if (limit > kWaveOutQueueLimitCeiling) limit = kWaveOutQueueLimitCeiling;
    if (limit <= out.queueLimit) return;
    out.queueLimit = limit;
    streamStatistics().waveOutQueueLimit = limit;
}

// Where a cut leaves the queue: where it stood when the device handed back its
// first header, the latency the run started with. Every underrun leaves one
// more stretch standing; a cut to just under the limit was followed by another
// one an underrun or two later (nine in 30 s on a 100 ms client buffer), while
// a cut to the start's level leaves the whole margin to the limit for the
// next ones. Before the device has handed anything back: the limit.
int standingQueueTarget(const OutputStream& out) {
    if (out.deviceHeldHeaders == 0) return out.queueLimit;
    const int started = out.deviceHeldHeaders - 1;  // counted before a write, as the fewest is
    return started < out.queueLimit ? started : out.queueLimit;
}

// Once per resync period: the fewest headers queued at any write of the period
// is what stood queued through it. Above the limit, that latency is what the
// queue keeps (a driver's hiccup, or an underrun, left it there), and it is
// cut once, as a whole, down to where the run started. A queue that only
// passes the limit for a moment is the driver handing headers back late and
// then together: cutting each chunk then faded the sound out and in ten times
// in a row while the queue came back by itself.
void checkStandingQueue(OutputStream& out, int queued, int frames) {
    if (queued < out.fewestQueuedInPeriod) out.fewestQueuedInPeriod = queued;
    out.framesSinceCheck += frames;
    if (out.framesSinceCheck < out.resyncPeriodFrames) return;
    out.framesSinceCheck = 0;
    // The cut chunk keeps its header, so one chunk more than the excess goes.
    if (out.fewestQueuedInPeriod > out.queueLimit)
        out.chunksToTrim = out.fewestQueuedInPeriod - standingQueueTarget(out) + 1;
    out.fewestQueuedInPeriod = kWaveOutHeaderCount;
}

// How this chunk goes out: faded out and cut (the first chunk of a trim, or
// any chunk above the ceiling), left out (the rest of a trim: the gain is at
// zero already), or faded in.
enum class WaveOutStep { kFadeIn, kCut, kLeaveOut };

WaveOutStep nextWaveOutStep(OutputStream& out, int queued) {
    if (out.chunksToTrim > 0) {
        const bool first = out.fadeGain > 0.0f;
        --out.chunksToTrim;
        if (!first) return WaveOutStep::kLeaveOut;
        ++streamStatistics().fadedCuts;
        return WaveOutStep::kCut;
    }
    if (queued <= kWaveOutQueueLimitCeiling) return WaveOutStep::kFadeIn;
    ++streamStatistics().fadedCuts;
    return WaveOutStep::kCut;
}

}  // namespace

int writeOutput(OutputStream& out, const float* samples, int frames) {
    if (out.deviceMode == 1) {
        writeWaveOut(out, samples, frames);
        return 0;
    }
    if (!out.conversion || !out.pWriteBuffer) return frames;
    const int channels = out.channels;
    const int count = wholeFramesWithin(frames, channels, kMaxDirectSoundSamples) * channels;
    floatToPcm16(samples, out.conversion, count, 1.0f);
    appendRecording(out.recording, out.conversion, count);
    followDevice(out, frames);

    void* part1 = nullptr;
    void* part2 = nullptr;
    DWORD bytes1 = 0, bytes2 = 0;
    if (FAILED(out.pWriteBuffer->Lock(static_cast<DWORD>(out.writePositionBytes), static_cast<DWORD>(2 * count),
                                      &part1, &bytes1, &part2, &bytes2, 0))) {
        ++streamStatistics().chunksDropped;
        return frames;
    }
    const uint8_t* converted = reinterpret_cast<const uint8_t*>(out.conversion);
    if (part1) memcpy(part1, converted, bytes1);
    if (part2) memcpy(part2, converted + bytes1, bytes2);
    out.pWriteBuffer->Unlock(part1, bytes1, part2, bytes2);

    const int writtenBytes = static_cast<int>(bytes1 + bytes2);
    out.writePositionBytes = (out.writePositionBytes + writtenBytes) & ~3;
    if (out.writePositionBytes >= out.ringBytes) out.writePositionBytes -= out.ringBytes;
    ++streamStatistics().chunksPlayed;
    return writtenBytes / (2 * channels);
}

void resyncOutput(OutputStream& out, int frames) {
    out.framesSinceCheck += frames;
    if (out.framesSinceCheck < out.resyncPeriodFrames) return;
    out.framesSinceCheck = 0;
    DWORD playCursor = 0, writeCursor = 0;
    if (FAILED(out.pWriteBuffer->GetCurrentPosition(&playCursor, &writeCursor))) return;
    const int ring = out.ringBytes;
    const int target = resyncTarget(out, writeCursor);
    // How far the write position is ahead of the target, in (-ring/2, ring/2].
    int ahead = out.writePositionBytes - target;
    if (ahead < 0) ahead += ring;
    if (ahead > ring / 2) ahead -= ring;
    if (ahead < -out.resyncSlackBytes || ahead > out.resyncWindowBytes) {
        out.writePositionBytes = target;
        ++streamStatistics().outputResyncs;
    }
}

void writeWaveOut(OutputStream& out, const float* samples, int frames) {
    int chosen = -1, queued = 0;
    for (int i = 0; i < kWaveOutHeaderCount; ++i) {
        if (out.headers[i].dwFlags & WHDR_DONE)
            chosen = i;
        else
            ++queued;
    }
    followWaveOutBuffering(out, queued);
    checkStandingQueue(out, queued, frames);
    out.queuedAfterWrite = queued;
    if (queued > streamStatistics().waveOutMostQueued) streamStatistics().waveOutMostQueued = queued;
    if (chosen < 0) {  // all queued: the chunk is dropped
        ++streamStatistics().chunksDropped;
        return;
    }
    const int channels = out.channels;
    const int maxSamples = out.upsample ? kMaxWaveOutSamples / 2 : kMaxWaveOutSamples;
    const int count = wholeFramesWithin(frames, channels, maxSamples) * channels;
    const WaveOutStep step = nextWaveOutStep(out, queued);
    record(out, samples, count);
    if (step == WaveOutStep::kLeaveOut) return;
    int converted = 0;
    convertForWaveOut(out, samples, count, out.waveOutBuffers[chosen], converted,
                      step == WaveOutStep::kCut ? kFadeOut : kFadeIn);
    WAVEHDR& header = out.headers[chosen];
    header.dwBufferLength = static_cast<DWORD>(2 * converted);
    const MMRESULT result = platform().waveOutWrite(out.waveOut, &header, sizeof header);
    notePlaybackError(result);
    if (result != MMSYSERR_NOERROR) return;
    ++out.queuedAfterWrite;
    ++streamStatistics().chunksPlayed;
}

void convertForWaveOut(OutputStream& out, const float* samples, int count, int16_t* destination,
                       int& convertedSamples, FadeDirection direction) {
    const float* source = samples;
    int length = count;
    if (out.upsample) {
        length = upsampleIntoWork(out, samples, count);
        source = out.work;
    }
    if (direction == kFadeIn) {
        fadeIn(out, source, length, destination);
        convertedSamples = length;
    } else {
        convertedSamples = fadeOut(out, source, length, destination);
    }
}
