// Playback devices: opening and closing DirectSound and waveOut.
//
// DirectSound: one device object with a looping secondary buffer of about 3 s
// (or, with accelerated output, the primary buffer itself) that writeOutput
// fills at its own write position. Both buffers play from the end of the open
// until closeOutputDevice stops them; the device reads them on its own.
//
// waveOut: 32 headers with a 32 KiB buffer each, prepared at open and marked
// free (WHDR_DONE); writeOutput queues one per chunk and the driver hands it
// back by setting WHDR_DONE again. No callback: the flags are the only
// exchange with the driver.
#include <cstring>
#include <new>

#include "engine/outputstream.h"
#include "platform/platform.h"
#include "settings/settings.h"
#include "tracelog/trace.h"

namespace {

void stopAndRelease(IDirectSoundBuffer*& buffer) {
    if (buffer) buffer->Stop();
    releaseInterface(buffer);
}

int bufferBytes(IDirectSoundBuffer* buffer) {
    DSBCAPS caps = {};
    caps.dwSize = sizeof caps;
    if (FAILED(buffer->GetCaps(&caps))) return 0;
    return static_cast<int>(caps.dwBufferBytes);
}

enum AccessChoice { kAccessAccelerated, kAccessNormal, kAccessCancelled };

// Sets the cooperative level: write-primary when accelerated output is asked
// for and the device can do it, else exclusive. When it cannot, asks whether
// to switch accelerated output off for good.
AccessChoice setAccessLevel(IDirectSound* device, HWND owner) {
    if (readSettingFlag("PRIMARY")) {
        DSCAPS caps = {};
        caps.dwSize = sizeof caps;
        const bool emulated = SUCCEEDED(device->GetCaps(&caps)) && (caps.dwFlags & DSCAPS_EMULDRIVER);
        if (!emulated && SUCCEEDED(device->SetCooperativeLevel(owner, DSSCL_WRITEPRIMARY))) return kAccessAccelerated;
        const int answer = showMessage(owner,
                                       "The mode was set to 'Accelerated output', but the soundcard could not "
                                       "handle that.\nDo you wish to reset the mode to 'Non-accelerated' ?",
                                       "Harnwick Live", MB_YESNOCANCEL | MB_ICONINFORMATION);
        if (answer == IDCANCEL) return kAccessCancelled;
        if (answer == IDYES) writeSettingText("PRIMARY", "FALSE");
    }
    device->SetCooperativeLevel(owner, DSSCL_EXCLUSIVE);
    return kAccessNormal;
}

int openDirectSoundDevice(OutputStream& out, HWND owner, int sampleRate, int channels) {
    const DeviceLookup& device = lookupPlaybackDevice();
    if (!device.found) {
        showMessage(owner, "No suitable OUTPUT device could be found.\nLive playback cannot be started.",
                    "Harnwick Live", MB_OK | MB_ICONERROR);
        return 0;
    }
    out.pDirectSound = nullptr;
    HRESULT hr = platform().directSoundCreate(&device.deviceGuid, &out.pDirectSound, nullptr);
    if (FAILED(hr) || !out.pDirectSound) {
        TRACE(TRACE_ERROR, "openOutputDevice: DirectSoundCreate failed (0x%08lx)", hr);
        out.pDirectSound = nullptr;
        return 0;
    }
    out.pWriteBuffer = nullptr;
    const AccessChoice access = setAccessLevel(out.pDirectSound, owner);
    if (access == kAccessCancelled) {
        releaseInterface(out.pDirectSound);
        return 0;
    }

    WAVEFORMATEX format = pcmFormat(sampleRate, channels);
    if (access == kAccessNormal) {
        DSBUFFERDESC1 description = {};
        description.dwSize = sizeof description;
        description.dwFlags = DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS | DSBCAPS_CTRLVOLUME |
                              DSBCAPS_CTRLPAN | DSBCAPS_CTRLFREQUENCY;
        description.dwBufferBytes = static_cast<DWORD>(out.ringBytes);
        description.lpwfxFormat = &format;
        hr = out.pDirectSound->CreateSoundBuffer(reinterpret_cast<DSBUFFERDESC*>(&description), &out.pSecondary,
                                                 nullptr);
        if (SUCCEEDED(hr) && out.pSecondary) {
            out.ringBytes = bufferBytes(out.pSecondary);
        } else {
            // Playback goes on without a buffer: every chunk is dropped.
            TRACE(TRACE_ERROR, "openOutputDevice: no secondary buffer (0x%08lx)", hr);
            out.pSecondary = nullptr;
        }
    }
    DSBUFFERDESC1 primaryDescription = {};
    primaryDescription.dwSize = sizeof primaryDescription;
    primaryDescription.dwFlags = DSBCAPS_PRIMARYBUFFER | DSBCAPS_GETCURRENTPOSITION2;
    hr = out.pDirectSound->CreateSoundBuffer(reinterpret_cast<DSBUFFERDESC*>(&primaryDescription), &out.pPrimary,
                                             nullptr);
    if (FAILED(hr) || !out.pPrimary) {
        TRACE(TRACE_ERROR, "openOutputDevice: no primary buffer (0x%08lx)", hr);
        out.pPrimary = nullptr;
        releaseInterface(out.pSecondary);
        releaseInterface(out.pDirectSound);
        return 0;
    }
    out.pPrimary->SetFormat(&format);
    if (access == kAccessAccelerated) {
        out.pWriteBuffer = out.pPrimary;
        out.ringBytes = bufferBytes(out.pPrimary);
    } else {
        out.pWriteBuffer = out.pSecondary;
    }
    if (out.pWriteBuffer) {
        DWORD playCursor = 0, writeCursor = 0;
        out.pWriteBuffer->GetCurrentPosition(&playCursor, &writeCursor);
        out.writePositionBytes = static_cast<int>(writeCursor) & ~3;
    }
    if (out.pSecondary) out.pSecondary->Play(0, 0, DSBPLAY_LOOPING);
    out.pPrimary->Play(0, 0, DSBPLAY_LOOPING);
    TRACE(TRACE_INFO, "openOutputDevice: DirectSound, %s, ring %d bytes",
          access == kAccessAccelerated ? "accelerated" : "secondary buffer", out.ringBytes);
    return 1;
}

bool allocated(int16_t* const (&buffers)[kWaveOutHeaderCount]) {
    for (const int16_t* buffer : buffers)
        if (!buffer) return false;
    return true;
}

void freeWaveOutBuffers(OutputStream& out) {
    for (int16_t*& buffer : out.waveOutBuffers) {
        delete[] buffer;
        buffer = nullptr;
    }
}

}  // namespace

int openOutputDevice(OutputStream& out, HWND owner, int sampleRate, int channels) {
    if (out.deviceMode == 1) return openWaveOutDevice(out, owner, sampleRate, channels);
    return openDirectSoundDevice(out, owner, sampleRate, channels);
}

int openWaveOutDevice(OutputStream& out, HWND owner, int sampleRate, int channels) {
    out.fadeGain = 0.0f;
    out.queueLimit = kWaveOutQueueLimit;
    out.queuedAfterWrite = 0;
    out.deviceHeldHeaders = 0;
    out.mostReturnedHeaders = 0;
    out.fewestQueuedInPeriod = kWaveOutHeaderCount;
    out.chunksToTrim = 0;
    out.framesSinceCheck = 0;
    streamStatistics().waveOutQueueLimit = out.queueLimit;
    out.waveOutFormat = pcmFormat(out.upsample ? 2 * sampleRate : sampleRate, channels);
    const UINT deviceId = static_cast<UINT>(readSettingInt("WAVE_OUT_DEVICE") - 1);  // 0 gives WAVE_MAPPER
    const MMRESULT result = platform().waveOutOpen(&out.waveOut, deviceId, &out.waveOutFormat, 0, 0, CALLBACK_NULL);
    reportPlaybackError(result);
    if (result != MMSYSERR_NOERROR) {
        out.waveOut = nullptr;
        return 0;
    }
    for (int16_t*& buffer : out.waveOutBuffers) buffer = new (std::nothrow) int16_t[kWaveOutBufferBytes / 2]();
    if (!allocated(out.waveOutBuffers)) {
        freeWaveOutBuffers(out);
        reportPlaybackError(platform().waveOutClose(out.waveOut));
        out.waveOut = nullptr;
        showMessage(owner, "There is not enough memory to start the soundcard output.", "Harnwick Live",
                    MB_OK | MB_ICONERROR);
        return 0;
    }
    for (int i = 0; i < kWaveOutHeaderCount; ++i) {
        WAVEHDR& header = out.headers[i];
        memset(&header, 0, sizeof header);
        header.lpData = reinterpret_cast<LPSTR>(out.waveOutBuffers[i]);
        header.dwBufferLength = static_cast<DWORD>(out.chunkFrames * 2 * channels);
        header.dwFlags = WHDR_DONE;
        header.dwUser = static_cast<DWORD_PTR>(i);
        reportPlaybackError(platform().waveOutPrepareHeader(out.waveOut, &header, sizeof header));
        header.dwFlags |= WHDR_DONE;
    }
    TRACE(TRACE_INFO, "openWaveOutDevice: device %d at %lu Hz, queue limit %d to start with",
          static_cast<int>(deviceId), out.waveOutFormat.nSamplesPerSec, out.queueLimit);
    return 1;
}

int closeOutputDevice(OutputStream& out) {
    if (out.deviceMode == 1) return closeWaveOutDevice(out);
    stopAndRelease(out.pPrimary);
    stopAndRelease(out.pSecondary);
    releaseInterface(out.pDirectSound);
    out.pWriteBuffer = nullptr;
    return 1;
}

int closeWaveOutDevice(OutputStream& out) {
    if (!out.waveOut) return 1;
    reportPlaybackError(platform().waveOutReset(out.waveOut));
    for (WAVEHDR& header : out.headers)
        reportPlaybackError(platform().waveOutUnprepareHeader(out.waveOut, &header, sizeof header));
    freeWaveOutBuffers(out);
    reportPlaybackError(platform().waveOutClose(out.waveOut));
    out.waveOut = nullptr;
    return 1;
}

void reportPlaybackError(MMRESULT code) { showWaveError(code, platform().waveOutGetErrorTextA, "playing"); }

void notePlaybackError(MMRESULT code) { noteStreamError(code, platform().waveOutGetErrorTextA, "playing"); }
