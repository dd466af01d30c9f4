// WAV recording of takes: where a take's file goes, its 44-byte header, and
// the life of a recording file (created with an open-ended header at stream
// open, appended to while running, given its exact sizes at stream close).
// The streams own their recording files; this room only offers the steps.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

const int kWaveHeaderBytes = 44;
const int kRecordingPathBytes = 256;

// "DISK_OUTPUT_DIRECTORY" when it names an existing directory: copies it,
// ending in a backslash, into buffer (kRecordingPathBytes, may be null) and
// returns 1; otherwise 0.
int outputDirectory(char* buffer);

// The path of this take's input (isInput 1) or output recording into path
// (kRecordingPathBytes). 0 when that signal is not recorded or the composed
// path would not fit; path is then left alone.
int takeFileName(char* path, int isInput);

// The 44-byte RIFF/WAVE header of 16-bit PCM with the given frames.
// Sizes past 4 GiB are clamped to the largest whole frame count that fits.
void buildWaveHeader(uint8_t* header, int channels, int sampleRate, uint64_t frames);
// The same for another plain sample format: formatTag 1 (PCM) or 3 (IEEE float).
void buildWaveHeaderAs(uint8_t* header, int formatTag, int bitsPerSample, int channels, int sampleRate,
                       uint64_t frames);

// Appends count 16-bit samples; nothing when file is INVALID_HANDLE_VALUE.
// Write errors are not reported.
void writeSamples(const int16_t* samples, int count, HANDLE file);

// Creates this take's recording file (input or output) with a header whose
// sizes mark an open-ended stream, so a take cut short by a crash still plays.
// Returns INVALID_HANDLE_VALUE when the signal is not recorded, and also when
// the file cannot be created, after telling the user (owner may be null).
HANDLE openRecording(int isInput, int channels, int sampleRate, HWND owner);

// Gives every take in directory whose header is still the open-ended one
// (its program ended without closing it) the exact sizes of what it holds;
// a take still being written is left alone. Traces each repaired file and
// returns how many were repaired. Called before a new take is created there
// and when the host starts.
int repairInterruptedTakes(const char* directory);

// Writes the exact header for what the file holds, closes it and sets file to
// INVALID_HANDLE_VALUE. Does nothing for INVALID_HANDLE_VALUE.
void closeRecording(HANDLE& file, int channels, int sampleRate);

// A take's recording as the audio thread sees it: appends go into a ring
// allocated at start and a writer thread moves them to the file, so the audio
// thread never waits on the disk. A chunk that finds the ring full is lost
// whole (counted in lostBytes); the live audio never waits.
struct RecordingQueue {
    HANDLE file = INVALID_HANDLE_VALUE;
    int16_t* ring = nullptr;
    uint32_t capacity = 0;             // samples
    std::atomic<uint32_t> appended{0};  // samples appended, advanced by the audio thread
    std::atomic<uint32_t> stored{0};    // samples written to the file, advanced by the writer
    std::atomic<int> stopping{0};
    HANDLE wake = nullptr;
    HANDLE writer = nullptr;
    int64_t lostBytes = 0;  // written by the audio thread, read after stop
};

// Takes over file (from openRecording) and starts its writer. With
// INVALID_HANDLE_VALUE appends are ignored. 0 when the ring or the writer
// could not be made: the take is then not recorded (traced).
int startRecordingQueue(RecordingQueue& queue, HANDLE file);
// Audio thread: queues count samples, or counts them lost when they do not fit.
void appendRecording(RecordingQueue& queue, const int16_t* samples, int count);
// Writes everything queued, ends the writer, frees the ring and hands the file
// back (for closeRecording).
HANDLE stopRecordingQueue(RecordingQueue& queue);
