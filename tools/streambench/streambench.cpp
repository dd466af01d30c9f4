// The host's own cost per chunk on each stream path: what readInput and
// writeOutput do besides waiting for the soundcard (conversion, resampling,
// copying into and out of the device buffers, handing the samples to the
// recording), with recording off and on, as a
// fraction of the chunk's real-time duration at 44100 Hz, for 64, 128, 512 and
// 2048-frame chunks, mono and stereo. The devices are memory fakes that always
// have a chunk ready, so no figure contains a wait; the reads still make their
// one wait call on an already signalled event. A plain copy of the chunk's
// 16-bit samples, timed in the same run, is the baseline of the second figure.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/outputstream.h"
#include "fakedevices.h"
#include "input/inputstream.h"
#include "settings/settings.h"

namespace {

const int kRate = 44100;
const int kChunkSizes[] = {64, 128, 512, 2048};
const int kChunksTimed = 2000;

double ticksPerSecond() {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
}

LONGLONG now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

enum Path { kWaveInRead, kWaveInDecimating, kCaptureRead, kWaveOutWrite, kWaveOutUpsampling, kDirectSoundWrite };
const char* const kPathNames[] = {"waveIn read",   "waveIn read, decimating", "DirectSoundCapture read",
                                  "waveOut write", "waveOut write, upsampling", "DirectSound write"};

bool isInput(Path path) { return path <= kCaptureRead; }

void configure(Path path, int frames, const std::string& folder, bool recording) {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingsKey);
    const bool directSound = path == kCaptureRead || path == kDirectSoundWrite;
    const bool resample = path == kWaveInDecimating || path == kWaveOutUpsampling;
    writeSettingText("USE_DIRECTX", directSound ? "TRUE" : "FALSE");
    writeSettingText("DONT RESAMPLE", resample ? "FALSE" : "TRUE");
    writeSettingInt("chunks", frames);
    // The decimating read delivers half the device frames it takes.
    writeSettingInt("chunks_wave", path == kWaveInDecimating ? 2 * frames : frames);
    writeSettingText("DISK_OUTPUT_DIRECTORY", folder.c_str());
    writeSettingText("SAVE_INPUT", recording ? "TRUE" : "FALSE");
    writeSettingText("SAVE_OUTPUT", recording ? "TRUE" : "FALSE");
}

// Readies the fake capture buffer for the next read: the driver one chunk on
// and the notification the read waits for signalled.
void readyCapture(InputStream& in, FakeCaptureBuffer* buffer) {
    const int chunkBytes = 2 * in.chunkFrames * in.channels;
    const int target = (in.readOffsetBytes + chunkBytes) % in.captureBufferBytes;
    buffer->ring.writeCursor = static_cast<DWORD>(target);
    buffer->ring.locks.clear();
    SetEvent(in.notifications[target / chunkBytes].hEventNotify);
}

// Seconds of host time per chunk on one path; 0 when the stream did not open.
double timeInput(Path path, int frames, int channels, FakeDevices& devices, std::vector<float>& chunk) {
    InputStream in;
    if (!openInput(in, nullptr, kRate, channels)) return 0;
    FakeCaptureBuffer* buffer = path == kCaptureRead ? devices.capture->buffer : nullptr;
    LONGLONG total = 0;
    for (int i = -20; i < kChunksTimed; ++i) {  // the first reads queue the buffers
        if (buffer) readyCapture(in, buffer);
        const LONGLONG start = now();
        readInput(in, chunk.data(), in.chunkFrames);
        if (i >= 0) total += now() - start;
    }
    closeInput(in);
    (void)frames;
    return total / ticksPerSecond() / kChunksTimed;
}

double timeOutput(int frames, int channels, FakeDevices& devices, std::vector<float>& chunk) {
    OutputStream out;
    int isOpen = 0;
    if (!openOutput(out, isOpen, nullptr, kRate, channels)) return 0;
    out.fadeGain = 1.0f;
    LONGLONG total = 0;
    for (int i = -20; i < kChunksTimed; ++i) {
        if (devices.directSound->secondary) devices.directSound->secondary->ring.locks.clear();
        const LONGLONG start = now();
        writeOutput(out, chunk.data(), frames);
        if (i >= 0) total += now() - start;
    }
    closeOutput(out, isOpen);
    return total / ticksPerSecond() / kChunksTimed;
}

// One copy is too short to time on its own: the copies are timed as a batch.
double timeCopy(int frames, int channels) {
    std::vector<int16_t> from(static_cast<size_t>(frames) * channels, 1), to(from.size());
    const LONGLONG start = now();
    for (int i = 0; i < kChunksTimed; ++i) {
        memcpy(to.data(), from.data(), from.size() * 2);
        from[i % from.size()] = static_cast<int16_t>(to[(i + 1) % to.size()] + 1);  // keeps each copy alive
    }
    return (now() - start) / ticksPerSecond() / kChunksTimed;
}

}  // namespace

int main() {
    setvbuf(stdout, nullptr, _IONBF, 0);
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "streambench";
    CreateDirectoryA(folder.c_str(), nullptr);

    std::vector<float> chunk(2 * 8192);
    for (size_t k = 0; k < chunk.size(); ++k) chunk[k] = 0.5f * ((k % 200) / 100.0f - 1.0f);

    // Recording off, then on: the take's file write happens on the recording's
    // own thread, so the audio thread's cost should not change.
    for (bool recording : {false, true}) {
        printf("Host cost per chunk at %d Hz, recording %s: %% of the chunk's real time (x a plain copy of its "
               "16-bit samples)\n",
               kRate, recording ? "on" : "off");
        printf("%-28s %-7s", "path", "layout");
        for (int frames : kChunkSizes) printf(" %20d", frames);
        printf("\n");
        for (int p = kWaveInRead; p <= kDirectSoundWrite; ++p) {
            const Path path = static_cast<Path>(p);
            for (int channels = 1; channels <= 2; ++channels) {
                printf("%-28s %-7s", kPathNames[p], channels == 1 ? "mono" : "stereo");
                for (int frames : kChunkSizes) {
                    FakeDevices devices;
                    devices.waveIn.instant = devices.waveOut.instant = true;
                    devices.capture->grantedBytes = 1 << 18;  // room for the largest chunk
                    configure(path, frames, folder, recording);
                    const double seconds = isInput(path) ? timeInput(path, frames, channels, devices, chunk)
                                                         : timeOutput(frames, channels, devices, chunk);
                    const double copy = timeCopy(frames, channels);
                    const double realTime = static_cast<double>(frames) / kRate;
                    if (seconds <= 0)
                        printf(" %20s", "not open");
                    else
                        printf(" %8.3f%% (x%7.1f)", 100.0 * seconds / realTime, copy > 0 ? seconds / copy : 0.0);
                }
                printf("\n");
            }
        }
    }
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingsKey);
    char pattern[MAX_PATH + 16];
    snprintf(pattern, sizeof pattern, "%s\\*.wav", folder.c_str());
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search != INVALID_HANDLE_VALUE) {
        do DeleteFileA((folder + "\\" + found.cFileName).c_str());
        while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
    return 0;
}
