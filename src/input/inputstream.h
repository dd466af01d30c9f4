// The input stream: the capture side of the live loop. A plain record and its
// operations; the reader filter embeds one and hands it its filter-wide lock.
// Nothing here knows about filters.
//
// Two device kinds deliver 16-bit PCM, read one chunk per call:
// - DirectSoundCapture: a looping capture buffer with a notification one byte
//   before each chunk boundary, all on one event; the read waits until the
//   driver's position has passed the end of the chunk at the read offset,
//   locks it, and keeps only the newest chunk when the driver has run more
//   than a quarter of the buffer ahead (or, on the first read, more than one
//   chunk).
// - waveIn: driver buffers used round-robin, eight to start with. The driver's
//   callback (waveInDone) notes the buffer it returned and signals that
//   buffer's event; the read takes the oldest completed buffer and hands it
//   straight back. For a short while after the first audio a read drops the
//   completed buffers older than the newest two; from then on, once a period,
//   it skips a backlog of completed buffers that stood through the period. A
//   late read (the thread held up, or the driver run dry) starts the
//   short while again.
//   When the driver runs out of buffers during a run, eight more join the
//   round (all are allocated at open, up to a ceiling).
// Either read's wait for the device also ends when the reading thread's stop
// event (if any) is signalled, so a device that delivers nothing never holds
// up a stop.
// Optionally the waveIn device runs at twice the processing rate and each
// channel is decimated by two.
#pragma once

#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include <cstdint>

#include "audio/audio.h"
#include "recording/recording.h"

class Resampler;

// waveIn buffers in the round at the start of a run, the most the round grows
// to, and the step it grows by whenever the driver ran out of buffers.
const int kWaveInBufferCount = 8;
const int kWaveInBufferCeiling = 32;
const int kWaveInBufferGrowth = 8;
const int kStagingBytes = 131072;
const int kCaptureBufferRequestBytes = 65536;
const DWORD kCaptureWaitMs = 1000;
const DWORD kWaveInWaitMs = 200;
// How long after the first audio a waveIn read drops the backlog beyond one chunk:
// the driver hands back what it gathered before the buffers came within its
// own client buffer (100 ms here), in bursts.
const DWORD kWaveInStartUpMs = 100;
// The least time between two waveIn reads that counts as the thread held up
// (two steps of the tick count).
const long long kWaveInLateFloorMs = 32;

struct InputStream {
    // The owner's lock (the reader filter's filter-wide lock); held by openInput
    // and closeInput. Null: no lock taken.
    CRITICAL_SECTION* lock = nullptr;
    // The reading thread's stop event, set by whoever runs the reads: once it
    // is signalled, a read's wait for the device ends at once with silence.
    // Null: the reads wait for the device alone.
    HANDLE stopEvent = nullptr;
    int resyncPeriodFrames = 0;
    int resyncCounterFrames = 0;
    // waveIn: the fewest returned buffers a read of this resync period found
    // waiting, its own included; 0 before the period's first.
    int fewestWaitingInPeriod = 0;
    DSBPOSITIONNOTIFY* notifications = nullptr;  // DirectSoundCapture
    HANDLE captureEvent = nullptr;               // signalled by every notification
    // 1 after open until the first DirectSoundCapture read or waveIn buffer
    // read; waveIn: again after a late read (the thread held up for more than
    // half the round, or the driver run dry) until the next buffer read.
    int firstRead = 0;
    DWORD lastReadEndTick = 0;  // waveIn: when the last read returned
    DWORD startUpEndTick = 0;  // waveIn: the start-up ends at this tick (set by the first buffer read)
    int notificationCount = 0;
    IDirectSoundNotify* pNotify = nullptr;
    int chunkFrames = 0;
    int16_t* staging = nullptr;  // kStagingBytes, DirectSoundCapture read
    RecordingQueue recording;
    int isOpen = 0;
    IDirectSoundCapture* pCapture = nullptr;
    IDirectSoundCaptureBuffer* pCaptureBuffer = nullptr;
    int readOffsetBytes = 0;
    int legacy = 0;    // 1: waveIn, 0: DirectSoundCapture
    int resample = 0;  // 1: waveIn runs at twice the rate, decimated by two
    Resampler* resamplers[2] = {nullptr, nullptr};
    HGLOBAL waveInMemory[kWaveInBufferCeiling] = {};
    int16_t* waveInBuffers[kWaveInBufferCeiling] = {};
    WAVEHDR waveInHeaders[kWaveInBufferCeiling] = {};
    int waveInBufferCount = kWaveInBufferCount;  // buffers in the round this run
    HWAVEIN waveIn = nullptr;
    int channels = 2;
    int sampleRate = 44100;
    int captureBufferBytes = kCaptureBufferRequestBytes;
    // false: no recording file whatever the settings say (the latency check).
    bool mayRecord = true;
};

// Reads the input settings, opens the device, allocates the staging buffer and
// creates the input recording. 1 on success or when already open, 0 when the
// device failed (the user has been told). window is not used.
int openInput(InputStream& in, HWND window, int sampleRate, int channels);
// Finalises the recording, releases resamplers, device and buffers. Always 1;
// nothing happens on a closed stream. flag has no effect.
int closeInput(InputStream& in, int flag = 0);

// Device open and close, by the legacy flag. 1 / 0; close always 1.
int openInputDevice(InputStream& in);
int openWaveInDevice(InputStream& in);
int closeInputDevice(InputStream& in);

// The waveIn driver callback (CALLBACK_FUNCTION, instance 0).
void CALLBACK waveInDone(HWAVEIN device, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2);

// Shows the wave API's text for a non-zero code in the recording error box.
void reportRecordingError(MMRESULT code);
// The same from the reading thread: kept for the dialog's thread (noteStreamError).
void noteRecordingError(MMRESULT code);

// One chunk of interleaved floats into destination (frames x channels floats).
// Blocks until the device holds a chunk or its wait runs out (silence).
// Returns the frames delivered.
int readInput(InputStream& in, float* destination, int frames);
int readWaveIn(InputStream& in, float* destination, int frames);
// Hands one waveIn buffer back to the driver unless it is still queued.
void requeueWaveInBuffer(InputStream& in, int index, WAVEHDR& header);

// The module-wide sample clock in frames: reset by openInput, advanced by the
// reader's fill-buffer step, which stamps media samples with it.
// 64 bits: a 32-bit count would overflow after 13.5 hours at 44.1 kHz.
int64_t sampleClock();
void advanceSampleClock(int frames);
