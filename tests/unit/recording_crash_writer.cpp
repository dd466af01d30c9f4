// Writes part of a take and then dies without closing it, as a crashing host
// would. Usage: recording_crash_writer <directory> <expected.raw>
// The samples written to the take are also written, and properly closed, to
// expected.raw so the test can compare what a reader gets back.
#include <windows.h>

#include <cstdio>
#include <cstdint>

#include "recording/recording.h"
#include "settings/settings.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    writeSettingText("DISK_OUTPUT_DIRECTORY", argv[1]);
    writeSettingFlag("SAVE_INPUT", true);
    writeSettingText("SAVE_INPUT_FILENAME", "interrupted.wav");
    HANDLE take = openRecording(1, 2, 44100, nullptr);
    FILE* expected = fopen(argv[2], "wb");
    if (take == INVALID_HANDLE_VALUE || !expected) return 3;

    int16_t chunk[2 * 441];
    for (int n = 0; n < 50; ++n) {
        for (int i = 0; i < 2 * 441; ++i) chunk[i] = static_cast<int16_t>((n * 977 + i * 31) % 65536 - 32768);
        writeSamples(chunk, 2 * 441, take);
        fwrite(chunk, sizeof chunk, 1, expected);
    }
    fclose(expected);
    // No closeRecording: the take keeps its placeholder header.
    TerminateProcess(GetCurrentProcess(), 9);
    return 0;
}
