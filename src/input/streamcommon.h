// What the input and the output stream share: the chunk size and resync
// period as both read them from the settings, the 16-bit PCM device format,
// and the message boxes for device errors.
#pragma once

#include <windows.h>
#include <mmsystem.h>

const int kMinChunkFrames = 10;
const int kMaxChunkFrames = 8192;

// Frames per chunk for the chosen device kind: "chunks" (DirectSound, default
// 1024) or "chunks_wave" (wave API, default 512), kept when 10..8192.
int readChunkFrames(bool directSound);
// "resync second" x sampleRate frames; a value below 1 (or none) counts as 1.
int readResyncPeriodFrames(int sampleRate);
// 16-bit PCM, interleaved, at the given device rate.
WAVEFORMATEX pcmFormat(int sampleRate, int channels);

// The wave API error box: the system's text for code inside the sentence of
// the given activity ("recording" or "playing"). errorText is the direction's
// waveInGetErrorTextA / waveOutGetErrorTextA.
typedef MMRESULT(WINAPI* WaveErrorTextFn)(MMRESULT, LPSTR, UINT);
void showWaveError(MMRESULT code, WaveErrorTextFn errorText, const char* activity);

// "HRESULT: 0x%x" notice for a non-zero COM result; nothing for 0.
void showResultCode(HRESULT code);
