// Loopback through the real virtual soundcard for loopback.sh: `streamloop <mode> <seconds> <folder>` reads
// and writes for that long with both recordings on and prints "frames <read from the device> <written>".
// mode: wave (waveIn/waveOut), waveresample (both at twice the rate), dsound (DirectSound, secondary buffer).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/outputstream.h"
#include "input/inputstream.h"
#include "settings/settings.h"

namespace {

const int kRate = 44100;
const int kChannels = 2;
const int kChunkFrames = 1024;

void configure(const std::string& mode, const char* folder) {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingsKey);
    writeSettingText("USE_DIRECTX", mode == "dsound" ? "TRUE" : "FALSE");
    writeSettingText("DONT RESAMPLE", mode == "waveresample" ? "FALSE" : "TRUE");
    writeSettingInt("chunks", kChunkFrames);
    writeSettingInt("chunks_wave", mode == "waveresample" ? 2 * kChunkFrames : kChunkFrames);
    writeSettingInt("out lat ms", 20);
    writeSettingText("DISK_OUTPUT_DIRECTORY", folder);
    writeSettingText("SAVE_INPUT", "TRUE");
    writeSettingText("SAVE_OUTPUT", "TRUE");
}

int runLoop(const std::string& mode, double seconds, const char* folder) {
    configure(mode, folder);
    InputStream in;
    OutputStream out;
    int outputOpen = 0;
    if (!openInput(in, nullptr, kRate, kChannels)) return 3;
    if (!openOutput(out, outputOpen, nullptr, kRate, kChannels)) {
        closeInput(in);
        return 3;
    }
    std::vector<float> chunk(kChannels * kMaxChunkFrames);
    long long framesFromDevice = 0, framesWritten = 0;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < seconds * 1000) {
        const int frames = readInput(in, chunk.data(), in.chunkFrames);
        // A read that found no data delivers exact silence and records nothing;
        // the playing tone is never exactly zero for a whole chunk.
        if (std::any_of(chunk.begin(), chunk.begin() + frames * kChannels, [](float s) { return s != 0.0f; }))
            framesFromDevice += frames;
        writeOutput(out, chunk.data(), frames);
        framesWritten += frames;
    }
    closeInput(in);
    closeOutput(out, outputOpen);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingsKey);
    printf("frames %lld %lld\n", framesFromDevice, framesWritten);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4) return runLoop(argv[1], atof(argv[2]), argv[3]);
    fprintf(stderr, "usage: streamloop <mode> <seconds> <recording folder>\n");
    return 2;
}
