// Loopback through the real virtual soundcard, driven by loopback.sh:
//   streamloop tone <file.wav> <seconds> <hz> <amplitude>   writes a stereo test tone
//   streamloop run <mode> <seconds> <recording folder>      reads and writes live
//   streamloop analyse <mode> <file.wav> <hz>               checks what the speaker got
// mode: wave (waveIn/waveOut), waveresample (both at twice the rate), dsound
// (DirectSoundCapture and DirectSound with a secondary buffer).
// Exit code 0 when every check holds; each check prints its figures.
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/outputstream.h"
#include "input/inputstream.h"
#include "recording/recording.h"
#include "settings/settings.h"

namespace {

const int kRate = 44100;
const int kChannels = 2;
const int kChunkFrames = 1024;

int failures = 0;

void check(bool ok, const char* what) {
    printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    if (!ok) ++failures;
}

struct Wave {
    int channels = 0, rate = 0;
    uint32_t declaredDataBytes = 0;
    std::vector<int16_t> samples;
    size_t fileBytes = 0;
    bool plain44ByteHeader = false;
};

uint32_t le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

bool readWave(const char* path, Wave& wave) {
    FILE* file = fopen(path, "rb");
    if (!file) return false;
    std::vector<unsigned char> bytes;
    unsigned char block[65536];
    size_t n;
    while ((n = fread(block, 1, sizeof block, file)) > 0) bytes.insert(bytes.end(), block, block + n);
    fclose(file);
    wave.fileBytes = bytes.size();
    if (bytes.size() < 44 || memcmp(bytes.data(), "RIFF", 4) || memcmp(bytes.data() + 8, "WAVE", 4)) return false;
    size_t at = 12;
    while (at + 8 <= bytes.size()) {
        const uint32_t size = le32(&bytes[at + 4]);
        if (!memcmp(&bytes[at], "fmt ", 4)) {
            wave.channels = le16(&bytes[at + 10]);
            wave.rate = static_cast<int>(le32(&bytes[at + 12]));
        } else if (!memcmp(&bytes[at], "data", 4)) {
            wave.declaredDataBytes = size;
            wave.plain44ByteHeader = at == 36;
            const size_t available = (bytes.size() - at - 8) / 2;
            wave.samples.resize(available);
            memcpy(wave.samples.data(), &bytes[at + 8], available * 2);
            return true;
        }
        at += 8 + size + (size & 1);
    }
    return false;
}

int writeTone(const char* path, double seconds, double hz, double amplitude) {
    const uint32_t frames = static_cast<uint32_t>(seconds * kRate);
    std::vector<int16_t> samples(frames * kChannels);
    for (uint32_t f = 0; f < frames; ++f) {
        const int16_t s = static_cast<int16_t>(std::lround(amplitude * 32767.0 * std::sin(2 * 3.14159265358979323846 * hz * f / kRate)));
        samples[2 * f] = samples[2 * f + 1] = s;
    }
    uint8_t header[kWaveHeaderBytes];
    buildWaveHeader(header, kChannels, kRate, frames);
    FILE* file = fopen(path, "wb");
    if (!file) return 2;
    fwrite(header, 1, sizeof header, file);
    fwrite(samples.data(), 2, samples.size(), file);
    fclose(file);
    return 0;
}

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

bool allZero(const float* samples, int count) {
    for (int k = 0; k < count; ++k)
        if (samples[k] != 0.0f) return false;
    return true;
}

void checkRecording(const std::string& path, int64_t expectedFrames, const char* which) {
    Wave wave;
    char text[300];
    const bool read = readWave(path.c_str(), wave);
    snprintf(text, sizeof text, "%s recording is a WAV file", which);
    check(read, text);
    if (!read) return;
    const int64_t frames = static_cast<int64_t>(wave.samples.size()) / kChannels;
    snprintf(text, sizeof text,
             "%s recording: 44-byte header, %d ch, %d Hz, declared %u data bytes of %zu in the file, %lld frames "
             "(expected %lld)",
             which, wave.channels, wave.rate, wave.declaredDataBytes, wave.fileBytes - 44,
             static_cast<long long>(frames), static_cast<long long>(expectedFrames));
    check(wave.plain44ByteHeader && wave.channels == kChannels && wave.rate == kRate &&
              wave.declaredDataBytes == wave.fileBytes - 44 && frames == expectedFrames,
          text);
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
    int64_t framesRead = 0, framesFromDevice = 0, framesWritten = 0;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < seconds * 1000) {
        const int frames = readInput(in, chunk.data(), in.chunkFrames);
        framesRead += frames;
        // A read that found no data delivers exact silence and records nothing;
        // the playing tone is never exactly zero for a whole chunk.
        if (!allZero(chunk.data(), frames * kChannels)) framesFromDevice += frames;
        writeOutput(out, chunk.data(), frames);
        framesWritten += frames;
    }
    closeInput(in);
    closeOutput(out, outputOpen);
    printf("frames read %lld (from the device %lld), written %lld\n", static_cast<long long>(framesRead),
           static_cast<long long>(framesFromDevice), static_cast<long long>(framesWritten));
    const std::string base = std::string(folder) + "\\";
    checkRecording(base + "Harnwick Input Signal.wav", framesFromDevice, "input");
    checkRecording(base + "Harnwick Output Signal.wav", framesWritten, "output");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingsKey);
    return failures ? 1 : 0;
}

// The tone's amplitude after the streams' conversions: the input scale
// (1/33000 on waveIn, 1/32767 on DirectSoundCapture) and, with resampling,
// the interpolator's zero stuffing, which halves the level.
double expectedAmplitude(const std::string& mode, double toneAmplitude) {
    const double captured = std::lround(toneAmplitude * 32767.0);
    if (mode == "dsound") return captured / 32767.0;
    const double level = captured / 33000.0;
    return mode == "waveresample" ? level / 2 : level;
}

int analyse(const std::string& mode, const char* path, double hz, double toneAmplitude) {
    Wave wave;
    if (!readWave(path, wave) || wave.channels != 2 || wave.rate != kRate) {
        check(false, "speaker recording readable as 44100 Hz stereo");
        return 1;
    }
    const double amplitude = expectedAmplitude(mode, toneAmplitude);
    const size_t frames = wave.samples.size() / 2;
    const double onsetLevel = 0.3 * amplitude * 32767;
    size_t onset = frames, end = 0;
    for (size_t f = 0; f < frames; ++f) {
        if (std::abs(wave.samples[2 * f]) > onsetLevel) {
            if (onset == frames) onset = f;
            end = f;
        }
    }
    const size_t first = onset + kRate, last = end > kRate / 10 ? end - kRate / 10 : 0;
    char text[300];
    snprintf(text, sizeof text, "tone heard from %.3f s to %.3f s of the speaker recording", onset / double(kRate),
             end / double(kRate));
    check(onset < frames && last > first + kRate / 2, text);
    if (last <= first) return 1;

    double sumSquares[2] = {0, 0};
    size_t crossings = 0, longestGap = 0, gap = 0;
    const double quiet = 0.05 * amplitude * 32767;
    for (size_t f = first; f < last; ++f) {
        for (int c = 0; c < 2; ++c) sumSquares[c] += double(wave.samples[2 * f + c]) * wave.samples[2 * f + c];
        if (wave.samples[2 * f - 2] < 0 && wave.samples[2 * f] >= 0) ++crossings;
        gap = std::abs(wave.samples[2 * f]) < quiet ? gap + 1 : 0;
        if (gap > longestGap) longestGap = gap;
    }
    const double duration = double(last - first) / kRate;
    const double measuredHz = crossings / duration;
    snprintf(text, sizeof text, "frequency %.1f Hz (tone %.1f Hz) over %.2f s", measuredHz, hz, duration);
    check(std::fabs(measuredHz - hz) < 0.01 * hz, text);
    for (int c = 0; c < 2; ++c) {
        const double measured = std::sqrt(2 * sumSquares[c] / double(last - first)) / 32767.0;
        snprintf(text, sizeof text, "channel %d amplitude %.4f (expected %.4f)", c, measured, amplitude);
        check(std::fabs(measured - amplitude) < 0.05 * amplitude, text);
    }
    const size_t chunkFrames = kChunkFrames;
    snprintf(text, sizeof text, "longest gap %zu frames (a chunk is %zu)", longestGap, chunkFrames);
    check(longestGap <= chunkFrames, text);
    return failures ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "tone" && argc == 6) return writeTone(argv[2], atof(argv[3]), atof(argv[4]), atof(argv[5]));
    if (command == "run" && argc == 5) return runLoop(argv[2], atof(argv[3]), argv[4]);
    if (command == "analyse" && argc == 6) return analyse(argv[2], argv[3], atof(argv[4]), atof(argv[5]));
    fprintf(stderr, "usage: streamloop tone|run|analyse ...\n");
    return 2;
}
