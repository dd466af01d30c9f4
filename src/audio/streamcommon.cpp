#include "audio/audio.h"

#include <cstdio>

#include "platform/platform.h"
#include "settings/settings.h"

DeviceChoice readDeviceChoice() {
    DeviceChoice choice;
    choice.resample = !readSettingFlag("DONT RESAMPLE");
    choice.directSound = readSettingFlag("USE_DIRECTX");
    choice.chunkFrames = readChunkFrames(choice.directSound);
    return choice;
}

void createResamplers(Resampler* (&resamplers)[2], bool resample, int sampleRate) {
    for (Resampler*& resampler : resamplers) resampler = resample ? new Resampler(sampleRate) : nullptr;
}

void destroyResamplers(Resampler* (&resamplers)[2]) {
    for (Resampler*& resampler : resamplers) {
        delete resampler;
        resampler = nullptr;
    }
}

int readChunkFrames(bool directSound) {
    const int frames = readSettingInt(directSound ? "chunks" : "chunks_wave");
    if (frames >= kMinChunkFrames && frames <= kMaxChunkFrames) return frames;
    return directSound ? 1024 : 512;
}

int readResyncPeriodFrames(int sampleRate) {
    int seconds = readSettingInt("resync second");
    if (seconds < 1) seconds = 1;
    return seconds * sampleRate;
}

WAVEFORMATEX pcmFormat(int sampleRate, int channels) {
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<WORD>(channels);
    format.nSamplesPerSec = static_cast<DWORD>(sampleRate);
    format.nBlockAlign = static_cast<WORD>(2 * channels);
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    format.wBitsPerSample = 16;
    format.cbSize = 0;
    return format;
}

void showWaveError(MMRESULT code, WaveErrorTextFn errorText, const char* activity) {
    if (code == MMSYSERR_NOERROR) return;
    char systemText[128] = "";
    if (errorText(code, systemText, 127) != MMSYSERR_NOERROR) snprintf(systemText, sizeof systemText, "%u", code);
    char text[400];
    snprintf(text, sizeof text,
             "While using the soundcard for %s,\nthe device reported the following error code:\n\n'%s'", activity,
             systemText);
    showMessage(nullptr, text, "Harnwick Live", MB_OK | MB_ICONERROR);
}

void showResultCode(HRESULT code) {
    if (code == 0) return;
    char text[32];
    snprintf(text, sizeof text, "HRESULT: 0x%x", static_cast<unsigned>(code));
    showMessage(nullptr, text, "Harnwick Live", MB_OK | MB_ICONINFORMATION);
}
