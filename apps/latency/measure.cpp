// The measurement: open the streams, run the live loop's rhythm with sweeps in
// the output, find the sweeps in what came back, close.
//
// How it works
// - One thread (the dialog's worker, or the console program's main thread)
//   does everything; nothing is shared but the cancel flag.
// - Frame f of the output is written in the same turn of the loop in which
//   frame f of the input is read, exactly as the live host passes input frame
//   f on as output frame f. A sweep written at output frame w that is found
//   at input frame w + d has therefore taken d frames from the host's write
//   through the output, the cable and the input back to the host's read: the
//   round trip a guitar's sound takes through the live host.
// - First a warm-up of one resync period and half a second, so that both
//   streams have made their first latency correction and sit where they stay
//   while the player plays. Then one sweep at the start of each listening
//   period; the period is long enough for a sweep to come back before the next
//   one starts, even with large chunks.
// - Everything the loop uses is allocated before it starts; the search runs
//   after the devices are closed again.
#include <algorithm>
#include <cmath>
#include <vector>

#include "latency.h"
#include "audio/audio.h"
#include "settings/settings.h"
#include "tracelog/trace.h"

namespace {

const double kPi = 3.14159265358979323846;
const double kSweepSeconds = 0.05;
const double kSweepStartHz = 300.0;
const double kSweepEndHz = 6000.0;
const double kSweepFadeSeconds = 0.005;
const float kSweepLevel = 0.25f;  // -12 dB: clearly above noise, gentle on speakers
const double kMinPeriodSeconds = 0.5;
const double kMaxPeriodSeconds = 2.5;
// How alike the found stretch and the sweep must be (normalised correlation).
const double kFoundCorrelation = 0.5;
const int kMinFound = 3;
const double kMaxSpreadMs = 3.0;
// An input that delivers nothing (a card whose clock stopped, a source the
// system suspended) ends the measurement once it has been silent this long,
// well past any device's start: the player hears "no signal" at once, not
// minutes later when every turn of the loop has read nothing.
const DWORD kNoInputMs = 3000;

// A linear sweep from kSweepStartHz to kSweepEndHz with faded ends. Its sharp
// correlation peak makes its return easy to place to the frame, also in noise.
std::vector<float> makeSweep(int sampleRate) {
    const int frames = static_cast<int>(kSweepSeconds * sampleRate);
    const int fadeFrames = static_cast<int>(kSweepFadeSeconds * sampleRate);
    const double rate = (kSweepEndHz - kSweepStartHz) / kSweepSeconds;
    std::vector<float> sweep(frames);
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        double gain = 1.0;
        if (i < fadeFrames) gain = 0.5 - 0.5 * std::cos(kPi * i / fadeFrames);
        if (frames - 1 - i < fadeFrames) gain = 0.5 - 0.5 * std::cos(kPi * (frames - 1 - i) / fadeFrames);
        sweep[i] = static_cast<float>(kSweepLevel * gain * std::sin(2 * kPi * (kSweepStartHz * t + 0.5 * rate * t * t)));
    }
    return sweep;
}

// Long enough that a sweep is back before the next starts: four times what
// the settings account for plus a quarter second for the device and driver.
int listeningPeriodFrames(const LatencySetup& setup) {
    double seconds = 4.0 * settingsShareMs(setup) / 1000.0 + 0.25;
    seconds = std::min(kMaxPeriodSeconds, std::max(kMinPeriodSeconds, seconds));
    return static_cast<int>(seconds * setup.sampleRate);
}

LatencySetup setupOf(const LatencyStreams& streams) {
    LatencySetup setup;
    const InputStream& in = streams.input;
    setup.directSound = in.legacy == 0;
    setup.resample = in.resample != 0;
    setup.sampleRate = in.sampleRate;
    setup.channels = in.channels;
    setup.chunkFrames = in.chunkFrames;
    setup.outLatencyMs = readSettingInt("out lat ms");
    return setup;
}

// Output frames [first, first + frames) of the plan into interleaved samples.
void fillOutput(const LatencyRecording& r, int first, int frames, float* samples) {
    const int sweepFrames = static_cast<int>(r.sweep.size());
    const int channels = r.setup.channels;
    const int end = r.sweepStart(kLatencyRepetitions);
    for (int i = 0; i < frames; ++i) {
        const int f = first + i - r.warmupFrames;
        float x = 0.0f;
        if (f >= 0 && first + i < end && f % r.periodFrames < sweepFrames) x = r.sweep[f % r.periodFrames];
        for (int c = 0; c < channels; ++c) samples[i * channels + c] = x;
    }
}

// The channels' sum: a cable on either channel is heard.
void keepInput(const float* samples, int frames, int channels, std::vector<float>& heard, int first) {
    const int room = std::min(frames, static_cast<int>(heard.size()) - first);
    for (int i = 0; i < room; ++i) {
        float sum = 0.0f;
        for (int c = 0; c < channels; ++c) sum += samples[i * channels + c];
        heard[first + i] = sum;
    }
}

// Where the sweep starts in heard[from, to): the offset from `from` with the
// highest normalised correlation, or -1 when nothing there is alike enough.
int findSweep(const std::vector<float>& heard, int from, int to, const std::vector<float>& sweep) {
    const int n = static_cast<int>(sweep.size());
    to = std::min(to, static_cast<int>(heard.size()));
    if (to - from < n) return -1;
    double sweepEnergy = 0.0;
    for (float s : sweep) sweepEnergy += static_cast<double>(s) * s;
    double windowEnergy = 0.0;
    for (int i = 0; i < n; ++i) windowEnergy += static_cast<double>(heard[from + i]) * heard[from + i];
    double best = 0.0;
    int bestOffset = -1;
    for (int start = from; start + n <= to; ++start) {
        if (start > from) {
            const double leaving = heard[start - 1], entering = heard[start + n - 1];
            windowEnergy += entering * entering - leaving * leaving;
        }
        if (windowEnergy <= 1e-12) continue;  // silence is not the sweep
        double dot = 0.0;
        const float* x = &heard[start];
        for (int i = 0; i < n; ++i) dot += static_cast<double>(x[i]) * sweep[i];
        const double alike = dot / std::sqrt(sweepEnergy * windowEnergy);
        if (alike > best) {
            best = alike;
            bestOffset = start - from;
        }
    }
    TRACE(TRACE_DETAIL, "findSweep: best correlation %.3f at %d", best, bestOffset);
    return best >= kFoundCorrelation ? bestOffset : -1;
}

void judge(LatencyResult& result) {
    std::vector<int> lags;
    for (int lag : result.lagFrames)
        if (lag >= 0) lags.push_back(lag);
    result.found = static_cast<int>(lags.size());
    if (lags.empty()) {
        result.outcome = kLatencyNoSignal;
        return;
    }
    std::sort(lags.begin(), lags.end());
    const size_t half = lags.size() / 2;
    result.medianFrames = lags.size() % 2 ? lags[half] : (lags[half - 1] + lags[half]) / 2;
    result.spreadFrames = lags.back() - lags.front();
    const bool steady = framesToMs(result.setup, result.spreadFrames) <= kMaxSpreadMs;
    result.outcome = result.found >= kMinFound && steady ? kLatencyMeasured : kLatencyUnreliable;
}

}  // namespace

int openLatencyStreams(LatencyStreams& streams, HWND owner) {
    const int rate = readSampleRate();
    const int channels = readChannels();
    streams.input.mayRecord = false;
    streams.output.mayRecord = false;
    if (!openInput(streams.input, owner, rate, channels)) return 0;
    if (!openOutput(streams.output, streams.outputOpen, owner, rate, channels)) {
        closeInput(streams.input);
        return 0;
    }
    streams.setup = setupOf(streams);
    return 1;
}

void closeLatencyStreams(LatencyStreams& streams) {
    closeInput(streams.input);
    closeOutput(streams.output, streams.outputOpen);
}

LatencyRecording playSweeps(LatencyStreams& streams, const std::atomic<bool>* cancel) {
    LatencyRecording r;
    r.setup = streams.setup;
    const int channels = r.setup.channels;
    r.sweep = makeSweep(r.setup.sampleRate);
    r.warmupFrames = streams.input.resyncPeriodFrames + r.setup.sampleRate / 2;
    r.periodFrames = listeningPeriodFrames(r.setup);
    const int totalFrames = r.sweepStart(kLatencyRepetitions);
    r.heard.assign(totalFrames, 0.0f);
    std::vector<float> inChunk(static_cast<size_t>(kMaxChunkFrames) * channels);
    std::vector<float> outChunk(inChunk.size());
    TRACE(TRACE_INFO, "playSweeps: warm-up %d frames, %d sweeps every %d frames", r.warmupFrames, kLatencyRepetitions,
          r.periodFrames);

    int frame = 0;
    DWORD lastInputTick = GetTickCount();
    while (frame < totalFrames) {
        if (cancel && *cancel) {
            r.cancelled = true;
            break;
        }
        // A read the device left waiting delivers silence; only the stream's
        // count of captured chunks tells the two apart.
        const int64_t capturedBefore = streamStatistics().chunksCaptured;
        const int frames = readInput(streams.input, inChunk.data(), streams.input.chunkFrames);
        if (streamStatistics().chunksCaptured != capturedBefore) {
            lastInputTick = GetTickCount();
        } else if (GetTickCount() - lastInputTick > kNoInputMs) {
            TRACE(TRACE_WARNING, "playSweeps: no input for %lu ms after %d frames, stopped", kNoInputMs, frame);
            break;
        }
        if (frames <= 0) continue;
        keepInput(inChunk.data(), frames, channels, r.heard, frame);
        fillOutput(r, frame, frames, outChunk.data());
        writeOutput(streams.output, outChunk.data(), frames);
        frame += frames;
    }
    return r;
}

LatencyResult findSweeps(const LatencyRecording& r) {
    LatencyResult result;
    result.setup = r.setup;
    if (r.cancelled) {
        result.outcome = kLatencyCancelled;
        return result;
    }
    for (int i = 0; i < kLatencyRepetitions; ++i) {
        const int start = r.sweepStart(i);
        result.lagFrames[i] = findSweep(r.heard, start, start + r.periodFrames, r.sweep);
    }
    judge(result);
    TRACE(TRACE_INFO, "findSweeps: %d of %d came back, median %d frames, spread %d", result.found,
          kLatencyRepetitions, result.medianFrames, result.spreadFrames);
    return result;
}

LatencyResult measureLatency(HWND owner, const std::atomic<bool>* cancel) {
    LatencyStreams streams;
    if (!openLatencyStreams(streams, owner)) return LatencyResult();
    const LatencyRecording recording = playSweeps(streams, cancel);
    closeLatencyStreams(streams);
    return findSweeps(recording);
}

double framesToMs(const LatencySetup& setup, int frames) { return 1000.0 * frames / setup.sampleRate; }

int processingChunkFrames(const LatencySetup& setup) {
    return !setup.directSound && setup.resample ? setup.chunkFrames / 2 : setup.chunkFrames;
}

double settingsShareMs(const LatencySetup& setup) {
    const double chunks = 2.0 * framesToMs(setup, processingChunkFrames(setup));
    return chunks + (setup.directSound ? setup.outLatencyMs : 0);
}
