// The latency check: the real round trip of the player's soundcard settings.
//
// It opens the input and the output exactly as the live host's next RUN does
// (same settings, same stream code), but without recording. Then it runs the
// live loop's own rhythm, one chunk read and one chunk written per turn, and
// writes a short quiet sweep into the output a few times. The sweep comes back
// through the player's cable (or the card's own loopback) and is found in the
// captured audio by correlation. Output and input frames are counted from the
// same turn of the loop, so the distance in frames between where a sweep was
// written and where it was found is the round trip: output latency, the cable,
// and input latency, just as the guitar's sound goes through the live host.
//
// Used by HarnwickLatency.exe (its dialog and its console mode) and by tests.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "engine/outputstream.h"
#include "input/inputstream.h"

const int kLatencyRepetitions = 5;

// What the next RUN opens, as the streams took it from the settings.
struct LatencySetup {
    bool directSound = false;
    bool resample = false;
    int sampleRate = 44100;
    int channels = 2;
    int chunkFrames = 0;     // device frames per read, as stored
    int outLatencyMs = 0;    // "out lat ms"; counts on DirectSound only
};

// Both streams of one measurement, opened as the live host opens them.
struct LatencyStreams {
    InputStream input;
    OutputStream output;
    int outputOpen = 0;
    LatencySetup setup;
};

// Opens input then output with the current settings, recordings off. 0 when
// a device did not open (the stream code has told the user); nothing is left
// open then.
int openLatencyStreams(LatencyStreams& streams, HWND owner);
void closeLatencyStreams(LatencyStreams& streams);

enum LatencyOutcome {
    kLatencyMeasured,    // most sweeps came back, and at the same time
    kLatencyUnreliable,  // some came back, but too few or too scattered
    kLatencyNoSignal,    // none came back
    kLatencyNoDevice,    // a device did not open
    kLatencyCancelled,
};

struct LatencyResult {
    LatencyOutcome outcome = kLatencyNoDevice;
    LatencySetup setup;
    int found = 0;                              // sweeps that came back
    int lagFrames[kLatencyRepetitions] = {};    // each sweep's round trip; -1: not found
    int medianFrames = 0;                       // over the sweeps that came back
    int spreadFrames = 0;                       // largest minus smallest of them
};

// What one measurement played and heard: the sweep, where each one started
// in the output, and the input, in frames from the first turn of the loop.
struct LatencyRecording {
    LatencySetup setup;
    std::vector<float> sweep;
    std::vector<float> heard;  // the input channels' sum
    int warmupFrames = 0;
    int periodFrames = 0;
    bool cancelled = false;
    int sweepStart(int repetition) const { return warmupFrames + repetition * periodFrames; }
};

// Plays the sweeps on open streams and keeps what came in. cancel (may be
// null) ends it early.
LatencyRecording playSweeps(LatencyStreams& streams, const std::atomic<bool>* cancel);
// Finds each sweep in what came in, once the devices are free again.
LatencyResult findSweeps(const LatencyRecording& recording);
// The whole check: open, play, close, find.
LatencyResult measureLatency(HWND owner, const std::atomic<bool>* cancel);

// Milliseconds of frames at the setup's processing rate.
double framesToMs(const LatencySetup& setup, int frames);
// Processing frames per chunk: the stored chunk, halved when the wave devices
// run at twice the rate.
int processingChunkFrames(const LatencySetup& setup);
// What the settings themselves account for: one chunk in, one chunk out and,
// on DirectSound, "out lat ms".
double settingsShareMs(const LatencySetup& setup);

// The figures in the player's words, several lines ("\r\n"), for the dialog
// and the console alike.
std::string describeResult(const LatencyResult& result);
// The console's exit code: 0 measured, 1 unreliable, 2 no signal came back,
// 3 a device did not open, 4 cancelled.
int exitCodeOf(LatencyOutcome outcome);

// The dialog: what to do, Measure and Close, and the result. Runs modally;
// measures on a worker thread so the window stays responsive. Closing while
// it measures stops the measurement and ends once the devices are closed.
INT_PTR showLatencyDialog(HWND owner);
