#include "recording/recording.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "settings/settings.h"
#include "tracelog/trace.h"

namespace {

void putLe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

void putLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

bool writeAll(HANDLE file, const void* data, DWORD bytes) {
    DWORD written = 0;
    return WriteFile(file, data, bytes, &written, nullptr) && written == bytes;
}

// Drops a ".xyz" extension: a name longer than 4 characters whose fourth
// character from the end is a dot.
void cutExtension(char* name) {
    size_t length = strlen(name);
    if (length > 4 && name[length - 4] == '.') name[length - 4] = '\0';
}

}  // namespace

int outputDirectory(char* buffer) {
    char directory[kSettingTextBytes + 2];
    readSettingText("DISK_OUTPUT_DIRECTORY", directory);
    if (directory[0] == '\0') return 0;
    DWORD attributes = GetFileAttributesA(directory);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
    size_t length = strlen(directory);
    if (directory[length - 1] != '\\') {
        // The backslash must still fit the caller's buffer with its terminator.
        if (length + 2 > kRecordingPathBytes) return 0;
        strcpy(directory + length, "\\");
    }
    if (buffer) strcpy(buffer, directory);
    return 1;
}

int takeFileName(char* path, int isInput) {
    if (!path) return 0;
    char directory[kRecordingPathBytes];
    if (!outputDirectory(directory)) return 0;
    if (!readSettingFlag(isInput ? "SAVE_INPUT" : "SAVE_OUTPUT")) return 0;

    char name[kSettingTextBytes + 1];
    readSettingText(isInput ? "SAVE_INPUT_FILENAME" : "SAVE_OUTPUT_FILENAME", name);
    if (name[0] == '\0') strcpy(name, isInput ? "Harnwick Input Signal" : "Harnwick Output Signal");
    cutExtension(name);

    char numbered[kSettingTextBytes + 16];
    if (readSettingFlag("APPEND_TAKE_NUMBER"))
        snprintf(numbered, sizeof numbered, "%s-%04d", name, readSettingInt("TAKE_NUMBER"));
    else
        snprintf(numbered, sizeof numbered, "%s", name);

    // A path that does not fit is not recorded rather than written somewhere cut short.
    char composed[kRecordingPathBytes * 2];
    int length = snprintf(composed, sizeof composed, "%s%s.wav", directory, numbered);
    if (length < 0 || length >= kRecordingPathBytes) return 0;
    memcpy(path, composed, length + 1);
    return 1;
}

void buildWaveHeader(uint8_t* header, int channels, int sampleRate, uint64_t frames) {
    buildWaveHeaderAs(header, 1 /* PCM */, 16, channels, sampleRate, frames);
}

void buildWaveHeaderAs(uint8_t* header, int formatTag, int bitsPerSample, int channels, int sampleRate,
                       uint64_t frames) {
    const uint32_t frameBytes = static_cast<uint32_t>(bitsPerSample / 8 * channels);
    // The sizes are 32-bit: a take past 4 GiB keeps the largest whole frame count that fits.
    const uint64_t maxFrames = frameBytes ? (0xFFFFFFFFull - 36) / frameBytes : 0;
    const uint32_t dataBytes = static_cast<uint32_t>((frames < maxFrames ? frames : maxFrames) * frameBytes);
    memcpy(header, "RIFF", 4);
    putLe32(header + 4, 36 + dataBytes);
    memcpy(header + 8, "WAVEfmt ", 8);
    putLe32(header + 16, 16);
    putLe16(header + 20, static_cast<uint16_t>(formatTag));
    putLe16(header + 22, static_cast<uint16_t>(channels));
    putLe32(header + 24, static_cast<uint32_t>(sampleRate));
    putLe32(header + 28, static_cast<uint32_t>(sampleRate) * frameBytes);
    putLe16(header + 32, static_cast<uint16_t>(frameBytes));
    putLe16(header + 34, static_cast<uint16_t>(bitsPerSample));
    memcpy(header + 36, "data", 4);
    putLe32(header + 40, dataBytes);
}

void writeSamples(const int16_t* samples, int count, HANDLE file) {
    if (file == INVALID_HANDLE_VALUE || count <= 0) return;
    writeAll(file, samples, static_cast<DWORD>(count) * 2);
}

HANDLE openRecording(int isInput, int channels, int sampleRate, HWND owner) {
    char path[kRecordingPathBytes];
    if (!takeFileName(path, isInput)) return INVALID_HANDLE_VALUE;
    char directory[kRecordingPathBytes];
    if (outputDirectory(directory)) repairInterruptedTakes(directory);
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        // Open-ended sizes: readers take everything up to the end of the file.
        uint8_t header[kWaveHeaderBytes];
        buildWaveHeader(header, channels, sampleRate, 0);
        putLe32(header + 4, 0xFFFFFFFFu);
        putLe32(header + 40, 0xFFFFFFFFu);
        if (writeAll(file, header, sizeof header)) return file;
        CloseHandle(file);
    }
    showMessage(owner,
                isInput ? "Could not open file for the input signal.\nIs it opened in your audio player?"
                        : "Could not open file for the output signal.\nIs it opened in your audio player?",
                "Harnwick Live", MB_OK | MB_ICONEXCLAMATION);
    return INVALID_HANDLE_VALUE;
}

namespace {

// Writes the exact header for the samples the open file holds.
bool finaliseHeader(HANDLE file, int channels, int sampleRate) {
    LARGE_INTEGER end = {};
    SetFilePointerEx(file, end, &end, FILE_END);
    const int64_t dataBytes = end.QuadPart > kWaveHeaderBytes ? end.QuadPart - kWaveHeaderBytes : 0;
    uint8_t header[kWaveHeaderBytes];
    buildWaveHeader(header, channels, sampleRate, static_cast<uint64_t>(dataBytes) / (2u * channels));
    LARGE_INTEGER start = {};
    SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
    const bool written = writeAll(file, header, sizeof header);
    SetFilePointerEx(file, start, nullptr, FILE_END);
    return written;
}

uint32_t le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Repairs one file when it is one of our takes with the open-ended header.
// A take still being written is open without write sharing and is skipped.
bool repairTake(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    uint8_t header[kWaveHeaderBytes];
    DWORD read = 0;
    bool repaired = false;
    if (ReadFile(file, header, sizeof header, &read, nullptr) && read == sizeof header) {
        uint8_t expected[kWaveHeaderBytes];
        const int channels = header[22] | (header[23] << 8);
        const int sampleRate = static_cast<int>(le32(header + 24));
        if (channels >= 1 && channels <= 2) {
            buildWaveHeader(expected, channels, sampleRate, 0);
            putLe32(expected + 4, 0xFFFFFFFFu);
            putLe32(expected + 40, 0xFFFFFFFFu);
            repaired = memcmp(header, expected, sizeof header) == 0 && finaliseHeader(file, channels, sampleRate);
        }
    }
    CloseHandle(file);
    return repaired;
}

}  // namespace

int repairInterruptedTakes(const char* directory) {
    char pattern[kRecordingPathBytes * 2];
    snprintf(pattern, sizeof pattern, "%s%s*.wav", directory,
             directory[0] && directory[strlen(directory) - 1] != '\\' ? "\\" : "");
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    int repaired = 0;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        char path[kRecordingPathBytes * 2];
        int length = snprintf(path, sizeof path, "%.*s%s", static_cast<int>(strlen(pattern) - 5), pattern,
                              found.cFileName);
        if (length <= 0 || length >= static_cast<int>(sizeof path) || !repairTake(path)) continue;
        TRACE(TRACE_INFO, "Repaired the header of the interrupted take %s", path);
        ++repaired;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return repaired;
}

void closeRecording(HANDLE& file, int channels, int sampleRate) {
    if (file == INVALID_HANDLE_VALUE) return;
    finaliseHeader(file, channels, sampleRate);
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
}
