// What the input and the output stream share: the device choice, chunk size
// and resync period as both read them from the settings, their resamplers,
// the 16-bit PCM device format, COM releases, and the message boxes for
// device errors.
#pragma once

#include <windows.h>
#include <mmsystem.h>

const int kMinChunkFrames = 10;
const int kMaxChunkFrames = 8192;

class Resampler;

// The choices both streams read at open, in this order: "DONT RESAMPLE" (not
// "TRUE": the wave devices run at twice the rate), "USE_DIRECTX" ("TRUE":
// DirectSound) and the chunk size of the chosen kind.
struct DeviceChoice {
    bool resample;
    bool directSound;
    int chunkFrames;
};
DeviceChoice readDeviceChoice();

// One resampler per channel (first, second) for the processing rate, or none.
void createResamplers(Resampler* (&resamplers)[2], bool resample, int sampleRate);
void destroyResamplers(Resampler* (&resamplers)[2]);

// Releases a COM pointer when there is one and forgets it.
template <class T>
void releaseInterface(T*& pointer) {
    if (pointer) pointer->Release();
    pointer = nullptr;
}

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
