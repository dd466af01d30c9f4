// latencyloop <wave|ds> <chunk frames> <out lat ms> <pass seconds>, driven by
// loopback.sh: measures with one case's settings exactly as HarnwickLatency
// does and prints "played"; then passes its input to its output at a tenth of
// the level on the same open streams, so a recorder outside can time their
// path; last prints "measured <outcome> <median> <spread> <found> <settings
// share ms> <each sweep's frames>". Exit code 0 when the streams opened.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "latency.h"
#include "settings/settings.h"

namespace {

void configure(const std::string& system, int chunkFrames, int outLatencyMs) {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingsKey);
    writeSettingFlag("USE_DIRECTX", system == "ds");
    writeSettingFlag("DONT RESAMPLE", true);
    writeSettingInt(system == "ds" ? "chunks" : "chunks_wave", chunkFrames);
    writeSettingInt("out lat ms", outLatencyMs);
}

const float kPassGain = 0.1f;

// One turn of the live loop: a chunk in, the same chunk out, quieter.
void passOn(LatencyStreams& s, std::vector<float>& chunk) {
    const int frames = readInput(s.input, chunk.data(), s.input.chunkFrames);
    if (frames <= 0) return;
    for (int i = 0; i < frames * s.setup.channels; ++i) chunk[i] *= kPassGain;
    writeOutput(s.output, chunk.data(), frames);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: latencyloop <wave|ds> <chunk frames> <out lat ms> <pass seconds>\n");
        return 2;
    }
    configure(argv[1], atoi(argv[2]), atoi(argv[3]));
    LatencyStreams streams;
    if (!openLatencyStreams(streams, nullptr)) return 3;
    const LatencyRecording recording = playSweeps(streams, nullptr);
    printf("played\n");
    fflush(stdout);
    std::vector<float> chunk(static_cast<size_t>(kMaxChunkFrames) * streams.setup.channels);
    const DWORD passStart = GetTickCount();
    while (GetTickCount() - passStart < static_cast<DWORD>(atof(argv[4]) * 1000)) passOn(streams, chunk);
    closeLatencyStreams(streams);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingsKey);

    const LatencyResult r = findSweeps(recording);
    printf("measured %d %d %d %d %.2f", r.outcome, r.medianFrames, r.spreadFrames, r.found, settingsShareMs(r.setup));
    for (int lag : r.lagFrames) printf(" %d", lag);
    printf("\n");
    return 0;
}
