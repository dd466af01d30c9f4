// The figures of a measurement in the player's words.
#include <cstdarg>
#include <cstdio>

#include "latency.h"

namespace {

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
    char text[512];
    va_list args;
    va_start(args, pattern);
    vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

std::string describeSetup(const LatencySetup& s) {
    return format("Settings: %s, %d Hz, %s, chunk %d samples%s.", s.directSound ? "DirectSound" : "legacy multimedia",
                  s.sampleRate, s.channels == 1 ? "mono" : "stereo", s.chunkFrames,
                  !s.directSound && s.resample ? " at twice the rate" : "");
}

std::string describeFigures(const LatencyResult& r) {
    const LatencySetup& s = r.setup;
    const double tripMs = framesToMs(s, r.medianFrames);
    const double shareMs = settingsShareMs(s);
    std::string text = format("Round trip: %.1f ms (%d frames), median of %d sweeps, spread %.1f ms.\r\n", tripMs,
                              r.medianFrames, r.found, framesToMs(s, r.spreadFrames));
    text += format("Your settings account for %.1f ms: one chunk in and one out (2 x %.1f ms)", shareMs,
                   framesToMs(s, processingChunkFrames(s)));
    text += s.directSound ? format(" and %d ms extra output latency.\r\n", s.outLatencyMs) : std::string(".\r\n");
    text += format("The soundcard and its driver add %.1f ms.\r\n", tripMs - shareMs);
    return text;
}

}  // namespace

std::string describeResult(const LatencyResult& r) {
    switch (r.outcome) {
    case kLatencyMeasured:
        return describeFigures(r) + describeSetup(r.setup);
    case kLatencyUnreliable:
        return format("The result is unreliable: %d of %d sweeps came back, %.1f ms apart.\r\n", r.found,
                      kLatencyRepetitions, framesToMs(r.setup, r.spreadFrames)) +
               describeFigures(r) +
               "Check the cable and the input level, close other programs and measure again.\r\n" +
               describeSetup(r.setup);
    case kLatencyNoSignal:
        return "No signal came back.\r\nConnect the soundcard's output to its input with a cable (or switch on the "
               "card's own loopback), check that the input is not muted, and measure again.\r\n" +
               describeSetup(r.setup);
    case kLatencyNoDevice:
        return "The soundcard could not be opened with the current settings. Check them under Settings in "
               "Harnwick Live.";
    case kLatencyCancelled:
        return "The measurement was stopped.";
    }
    return std::string();
}

int exitCodeOf(LatencyOutcome outcome) {
    switch (outcome) {
    case kLatencyMeasured:
        return 0;
    case kLatencyUnreliable:
        return 1;
    case kLatencyNoSignal:
        return 2;
    case kLatencyNoDevice:
        return 3;
    case kLatencyCancelled:
        return 4;
    }
    return 4;
}
