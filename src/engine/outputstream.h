// The output stream: the playback side of the live loop. A plain record and
// its operations; the dump filter's outer object embeds one and owns the
// output-open flag that openOutput sets and closeOutput clears. Nothing here
// knows about filters.
//
// Two device kinds take 16-bit PCM, one chunk per writeOutput call:
// - DirectSound: a looping buffer (about 3 s, or the primary buffer with
//   accelerated output) written at a moving write position. The first chunk
//   after the open, and any chunk the play cursor has overtaken, go to the
//   device's write cursor plus the latency offset; once per resync period the
//   position is brought back there when it fell behind or ran further ahead
//   than its window (see chooseResyncWindow). Played audio is cleared behind
//   the play cursor, so an underrun plays silence.
// - waveOut: 32 prepared headers, queued one per chunk. When more than the
//   queue limit stood queued through a whole resync period, one chunk fades
//   out and is cut to about half and as many chunks as stood above the limit
//   are left out, so the queue is back at the limit; then the sound fades back
//   in. Above the ceiling every chunk fades out and is cut at once (a stalled
//   device). The limit is 8, or what the device shows it holds (see
//   followWaveOutBuffering). Optionally the device runs at twice the
//   processing rate and each channel is interpolated by two.
#pragma once

#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include <cstdint>

#include "audio/audio.h"
#include "recording/recording.h"

class Resampler;

const int kWaveOutHeaderCount = 32;
const int kWaveOutBufferBytes = 32768;
// The queue limit on a device that plays what it gets at once, and the most it
// may grow to on a device that holds more (a quarter of the headers stays free,
// so a stalled device still meets the fade before chunks are dropped).
const int kWaveOutQueueLimit = 8;
const int kWaveOutQueueLimitCeiling = 24;
const int kConversionBufferBytes = 131072;
const int kWorkBufferBytes = 262144;

enum FadeDirection { kFadeIn = 0, kFadeOut = 1 };

struct OutputStream {
    RecordingQueue recording;
    int deviceMode = 0;  // 0: DirectSound, 1: waveOut
    int upsample = 0;    // waveOut at twice the processing rate
    Resampler* upsamplers[2] = {nullptr, nullptr};
    WAVEHDR headers[kWaveOutHeaderCount] = {};
    HWAVEOUT waveOut = nullptr;
    int16_t* waveOutBuffers[kWaveOutHeaderCount] = {};
    WAVEFORMATEX waveOutFormat = {};
    int chunkFrames = 0;
    float fadeGain = 0.0f;
    int queueLimit = kWaveOutQueueLimit;  // this run's fade threshold, in headers
    int queuedAfterWrite = 0;             // headers the device held after the last write
    int deviceHeldHeaders = 0;            // headers held when the device handed back its first; 0 before
    int mostReturnedHeaders = 0;          // the most handed back between two writes
    int fewestQueuedInPeriod = 0;         // the fewest queued at a write in this resync period
    int chunksToTrim = 0;                 // a standing excess still to be cut: this many chunks
    int writePositionBytes = 0;
    int ringBytes = 0;
    int channels = 2;
    int sampleRate = 44100;
    int latencyOffsetBytes = 0;
    int resyncPeriodFrames = 0;
    int framesSinceCheck = 0;
    int resyncWindowBytes = 0;  // how far past the target the write position may run
    int resyncSlackBytes = 0;   // how far behind the target it may lag (the device's cursor step)
    int firstWrite = 0;        // 1 until the first DirectSound chunk after open
    int clearedUpToBytes = 0;  // played audio is silenced up to here
    IDirectSound* pDirectSound = nullptr;
    IDirectSoundBuffer* pSecondary = nullptr;
    IDirectSoundBuffer* pPrimary = nullptr;
    IDirectSoundBuffer* pWriteBuffer = nullptr;  // secondary, or primary when accelerated
    int16_t* conversion = nullptr;  // kConversionBufferBytes
    float* work = nullptr;          // kWorkBufferBytes, waveOut upsampling
    // false: no recording file whatever the settings say (the latency check).
    bool mayRecord = true;
};

// Reads the output settings, sizes the ring and latency values, opens the
// device, allocates the buffers and creates the output recording. isOpen is
// the owner's output-open flag: already set returns 1 at once; set on success.
// 0 when the device did not open (the user has been told, or cancelled).
int openOutput(OutputStream& out, int& isOpen, HWND owner, int sampleRate, int channels);
// Finalises the recording, releases upsamplers and device, stores
// "resync_bytes_out learned", frees the buffers, clears isOpen. Always 1.
int closeOutput(OutputStream& out, int& isOpen);

// Device open and close, by the device mode. Open 1 / 0; close always 1.
int openOutputDevice(OutputStream& out, HWND owner, int sampleRate, int channels);
int openWaveOutDevice(OutputStream& out, HWND owner, int sampleRate, int channels);
int closeOutputDevice(OutputStream& out);
int closeWaveOutDevice(OutputStream& out);

// Shows the wave API's text for a non-zero code in the playback error box.
void reportPlaybackError(MMRESULT code);
// The same from the writing thread: kept for the dialog's thread (noteStreamError).
void notePlaybackError(MMRESULT code);

// One chunk of interleaved floats (frames x channels, full scale 1.0) to the
// device. DirectSound: frames written, or frames when dropped; waveOut: 0.
int writeOutput(OutputStream& out, const float* samples, int frames);
// DirectSound: once per resync period, moves the write position to the
// device's write cursor plus the latency offset when it is out of bounds.
void resyncOutput(OutputStream& out, int frames);
void writeWaveOut(OutputStream& out, const float* samples, int frames);
// Converts count samples (upsampled first when on) into destination with the
// running fade; convertedSamples receives the samples to play.
void convertForWaveOut(OutputStream& out, const float* samples, int count, int16_t* destination,
                       int& convertedSamples, FadeDirection direction);
