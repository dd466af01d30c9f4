// Re-amping a take with the reference plug-in, directly: the speed as a
// multiple of real time, and how the time divides between the plug-in's
// processing and the tool's own reading, converting and writing. Also how
// much the process's peak memory grows from a short take to a ten times
// longer one (streaming: it should not).
// Every figure is a ratio measured in this run; the best of three rounds counts.
#include <windows.h>
#include <psapi.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "reamp.h"
#include "registration.h"

namespace {

const int kRate = 44100;
const int kRounds = 3;

std::string windowsPath(const char* unixPath) {
    std::string path = std::string("Z:") + unixPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

void quiet(const char*) {}

// A stereo 16-bit take of plucked notes, written a second at a time.
bool writeTake(const std::string& path, int seconds) {
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) return false;
    const uint32_t dataBytes = uint32_t(seconds) * kRate * 4;
    const uint32_t header[] = {0x46464952, 36 + dataBytes, 0x45564157, 0x20746d66, 16, 0x00020001,
                               kRate,      kRate * 4,      0x00100004, 0x61746164, dataBytes};
    fwrite(header, 1, sizeof header, file);
    std::vector<int16_t> second(kRate * 2);
    for (int s = 0; s < seconds; ++s) {
        for (int i = 0; i < kRate; ++i) {
            const double v = 0.7 * exp(-i / 12000.0) * sin(i * 2 * 3.14159265 * (82.4 * (1 + s % 4)) / kRate);
            second[2 * i] = second[2 * i + 1] = int16_t(v * 32767);
        }
        fwrite(second.data(), 2, second.size(), file);
    }
    return fclose(file) == 0;
}

bool reamp(const std::string& in, const std::string& out, ReampReport& best) {
    ReampOptions options;
    options.input = in;
    options.output = out;
    options.chunkFrames = 512;
    options.say = quiet;
    best = ReampReport();
    for (int round = 0; round < kRounds; ++round) {
        ReampReport report;
        if (runReamp(options, report) != 0) {
            fprintf(stderr, "reampbench: %s\n", report.message.c_str());
            return false;
        }
        if (round == 0 || report.seconds < best.seconds) best = report;
    }
    return true;
}

size_t peakMemory() {
    PROCESS_MEMORY_COUNTERS counters = {};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakPagefileUsage;
}

}  // namespace

int main() {
    // The reference plug-in of this build serves the class for the run.
    callServerRegistration((windowsPath(HW_BIN_DIR) + "\\HarnwickAmp.dll").c_str(), true);
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string shortTake = std::string(temp) + "reampbench-6s.wav";
    const std::string longTake = std::string(temp) + "reampbench-60s.wav";
    const std::string out = std::string(temp) + "reampbench-out.wav";
    if (!writeTake(shortTake, 6) || !writeTake(longTake, 60)) return 1;

    ReampReport shortRun, longRun;
    bool ran = reamp(shortTake, out, shortRun);
    const size_t shortPeak = peakMemory();
    ran = ran && reamp(longTake, out, longRun);
    const size_t longPeak = peakMemory();
    DeleteFileA(shortTake.c_str());
    DeleteFileA(longTake.c_str());
    DeleteFileA(out.c_str());
    if (!ran) return 1;

    const double audio = double(longRun.frames) / longRun.rate;
    printf("60 s stereo 16-bit take at 44.1 kHz, 512-frame chunks, direct interface (best of %d)\n", kRounds);
    printf("re-amp speed                 %7.1f x real time\n", audio / longRun.seconds);
    printf("plug-in processing           %7.3f of the time\n", longRun.pluginSeconds / longRun.seconds);
    printf("tool (read, convert, write)  %7.3f of the time\n", longRun.toolSeconds / longRun.seconds);
    printf("tool / plug-in               %7.3f\n", longRun.toolSeconds / longRun.pluginSeconds);
    printf("peak memory, 60 s take against 6 s take  %+.0f KiB\n",
           (double(longPeak) - double(shortPeak)) / 1024.0);
    return 0;
}
