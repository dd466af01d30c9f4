// Capture devices: opening and closing DirectSoundCapture and waveIn, and the
// waveIn driver callback.
//
// DirectSoundCapture: one looping capture buffer of about 64 KiB, started at
// open. The notification table holds one entry per whole chunk, placed one
// byte before each chunk boundary, all on one auto-reset event the read waits on.
//
// waveIn: 32 buffers, each a locked movable block of chunkFrames x 8 bytes
// with its header, all allocated at open so that a round grown during the run
// allocates nothing. The first eight are prepared at open but not queued: the
// first read finds the driver's queue empty and queues them all. The driver's
// thread calls waveInDone for each returned buffer, which records its index
// and signals its event; nothing else is shared with that thread. A header
// belongs to the driver while WHDR_INQUEUE is set.
#include <cstdio>
#include <cstring>

#include "input/inputstream.h"
#include "input/waveinshared.h"
#include "platform/platform.h"
#include "settings/settings.h"
#include "tracelog/trace.h"

HANDLE g_waveInEvents[kWaveInBufferCeiling] = {};
std::atomic<int> g_lastCompletedIndex{0};
int g_nextBufferIndex = 0;

namespace {

// The largest chunk the DirectSoundCapture read handles without dropping data:
// a read returns about one chunk behind the driver and drops backlog beyond a
// quarter of the buffer; three chunks must fit in that quarter, so the
// driver's delivery jitter is absorbed.
//
// The cap keeps the chunk's bytes a divisor of the buffer, so the notifications
// fall on every chunk boundary of every lap.
int maxCaptureChunkFrames(int captureBufferBytes, int channels) {
    const int frameBytes = 2 * channels;
    for (int frames = captureBufferBytes / 4 / 3 / frameBytes; frames > 0; --frames)
        if (captureBufferBytes % (frames * frameBytes) == 0) return frames;
    return 0;
}

// Caps the chunk size to what the capture buffer allows and tells the user.
// 0 when not even the smallest chunk fits.
int fitChunkToCaptureBuffer(InputStream& in) {
    const int maxFrames = maxCaptureChunkFrames(in.captureBufferBytes, in.channels);
    if (in.chunkFrames <= maxFrames) return 1;
    char text[400];
    if (maxFrames < kMinChunkFrames) {
        snprintf(text, sizeof text,
                 "The soundcard granted a capture buffer of only %d bytes,\n"
                 "too small for live input.\nLive playback cannot be started.",
                 in.captureBufferBytes);
        showMessage(nullptr, text, "Harnwick Live", MB_OK | MB_ICONSTOP);
        return 0;
    }
    snprintf(text, sizeof text,
             "The processing chunk size of %d samples is too large for the soundcard's capture buffer.\n"
             "Live input uses %d samples per chunk instead.\n\n"
             "Set the DirectSound 'Processing chunk size' in the Settings to %d or fewer to keep your own choice.",
             in.chunkFrames, maxFrames, maxFrames);
    showMessage(nullptr, text, "Harnwick Live", MB_OK | MB_ICONINFORMATION);
    TRACE(TRACE_WARNING, "capture chunk capped from %d to %d frames", in.chunkFrames, maxFrames);
    in.chunkFrames = maxFrames;
    return 1;
}

void closeNotificationTable(InputStream& in) {
    if (in.captureEvent) CloseHandle(in.captureEvent);
    in.captureEvent = nullptr;
    delete[] in.notifications;
    in.notifications = nullptr;
    in.notificationCount = 0;
}

// Every entry signals the one capture event: the read looks at the driver's
// position whenever any chunk boundary has passed.
int buildNotificationTable(InputStream& in) {
    const int chunkBytes = 2 * in.chunkFrames * in.channels;
    const int count = in.captureBufferBytes / chunkBytes;
    in.captureEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!in.captureEvent) return 0;
    in.notifications = new DSBPOSITIONNOTIFY[count > 0 ? count : 1]();
    for (int i = 0; i < count; ++i) {
        in.notifications[i].dwOffset = static_cast<DWORD>((i + 1) * chunkBytes - 1);
        in.notifications[i].hEventNotify = in.captureEvent;
    }
    in.notificationCount = count;
    return 1;
}

void closeCaptureDevice(InputStream& in) {
    releaseInterface(in.pNotify);
    closeNotificationTable(in);
    if (in.pCaptureBuffer) in.pCaptureBuffer->Stop();
    releaseInterface(in.pCaptureBuffer);
    releaseInterface(in.pCapture);
}

int openCaptureDevice(InputStream& in) {
    const DeviceLookup& device = lookupCaptureDevice();
    if (!device.found) {
        showMessage(nullptr, "No suitable INPUT device could be found.", "Harnwick Live", MB_OK | MB_ICONSTOP);
        return 0;
    }
    WAVEFORMATEX format = pcmFormat(in.sampleRate, in.channels);
    DSCBUFFERDESC1 description = {};
    description.dwSize = sizeof description;
    description.dwFlags = 0;
    description.dwBufferBytes = static_cast<DWORD>(in.captureBufferBytes);
    description.lpwfxFormat = &format;

    HRESULT hr = platform().directSoundCaptureCreate(&device.deviceGuid, &in.pCapture, nullptr);
    showResultCode(hr);
    if (FAILED(hr) || !in.pCapture) {
        in.pCapture = nullptr;
        return 0;
    }
    hr = in.pCapture->CreateCaptureBuffer(reinterpret_cast<DSCBUFFERDESC*>(&description), &in.pCaptureBuffer,
                                          nullptr);
    showResultCode(hr);
    if (FAILED(hr) || !in.pCaptureBuffer) {
        in.pCaptureBuffer = nullptr;
        releaseInterface(in.pCapture);
        return 0;
    }
    DSCBCAPS caps = {};
    caps.dwSize = 16;
    if (SUCCEEDED(in.pCaptureBuffer->GetCaps(&caps))) in.captureBufferBytes = static_cast<int>(caps.dwBufferBytes);
    if (!fitChunkToCaptureBuffer(in)) {
        closeCaptureDevice(in);
        return 0;
    }
    in.readOffsetBytes = 0;
    in.pNotify = nullptr;
    if (!buildNotificationTable(in)) {
        TRACE(TRACE_ERROR, "openInputDevice: cannot create the notification events");
        closeCaptureDevice(in);
        return 0;
    }
    hr = in.pCaptureBuffer->QueryInterface(IID_IDirectSoundNotify, reinterpret_cast<void**>(&in.pNotify));
    if (SUCCEEDED(hr) && in.pNotify)
        hr = in.pNotify->SetNotificationPositions(static_cast<DWORD>(in.notificationCount), in.notifications);
    else
        in.pNotify = nullptr;
    if (FAILED(hr)) TRACE(TRACE_ERROR, "openInputDevice: notification positions not set (0x%08lx)", hr);
    showResultCode(in.pCaptureBuffer->Start(DSCBSTART_LOOPING));
    TRACE(TRACE_INFO, "openInputDevice: capture buffer %d bytes, %d notifications", in.captureBufferBytes,
          in.notificationCount);
    return 1;
}

void releaseWaveInBuffers(InputStream& in) {
    for (int i = 0; i < kWaveInBufferCeiling; ++i) {
        if (g_waveInEvents[i]) CloseHandle(g_waveInEvents[i]);
        g_waveInEvents[i] = nullptr;
        if (in.waveInMemory[i]) {
            GlobalUnlock(in.waveInMemory[i]);
            GlobalFree(in.waveInMemory[i]);
        }
        in.waveInMemory[i] = nullptr;
        in.waveInBuffers[i] = nullptr;
    }
}

}  // namespace

int openInputDevice(InputStream& in) {
    if (in.legacy) return openWaveInDevice(in);
    return openCaptureDevice(in);
}

int openWaveInDevice(InputStream& in) {
    in.waveIn = nullptr;
    const int deviceRate = in.resample ? 2 * in.sampleRate : in.sampleRate;
    WAVEFORMATEX format = pcmFormat(deviceRate, in.channels);
    const UINT deviceId = static_cast<UINT>(readSettingInt("WAVE_IN_DEVICE") - 1);  // 0 gives WAVE_MAPPER
    MMRESULT result = platform().waveInOpen(&in.waveIn, deviceId, &format, reinterpret_cast<DWORD_PTR>(&waveInDone),
                                            0, CALLBACK_FUNCTION);
    reportRecordingError(result);
    if (result != MMSYSERR_NOERROR) {
        in.waveIn = nullptr;
        return 0;
    }
    const DWORD chunkBytes = static_cast<DWORD>(2 * in.chunkFrames * in.channels);
    in.waveInBufferCount = kWaveInBufferCount;
    g_nextBufferIndex %= kWaveInBufferCount;
    streamStatistics().waveInBuffers = in.waveInBufferCount;
    for (int i = 0; i < kWaveInBufferCeiling; ++i) {
        in.waveInMemory[i] = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_SHARE, in.chunkFrames * 8);
        in.waveInBuffers[i] = static_cast<int16_t*>(in.waveInMemory[i] ? GlobalLock(in.waveInMemory[i]) : nullptr);
        g_waveInEvents[i] = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (!in.waveInBuffers[i] || !g_waveInEvents[i]) {
            showMessage(nullptr, "There is not enough memory to start the soundcard input.", "Harnwick Live",
                        MB_OK | MB_ICONSTOP);
            closeInputDevice(in);
            return 0;
        }
        WAVEHDR& header = in.waveInHeaders[i];
        memset(&header, 0, sizeof header);
        header.lpData = reinterpret_cast<LPSTR>(in.waveInBuffers[i]);
        header.dwBufferLength = chunkBytes;
        header.dwUser = static_cast<DWORD_PTR>(i);
    }
    for (int i = 0; i < in.waveInBufferCount; ++i)
        reportRecordingError(platform().waveInPrepareHeader(in.waveIn, &in.waveInHeaders[i], sizeof(WAVEHDR)));
    reportRecordingError(platform().waveInStart(in.waveIn));
    TRACE(TRACE_INFO, "openWaveInDevice: device %d at %d Hz, %lu bytes per buffer, %d buffers to start with",
          static_cast<int>(deviceId), deviceRate, chunkBytes, in.waveInBufferCount);
    return 1;
}

int closeInputDevice(InputStream& in) {
    if (!in.legacy) {
        closeCaptureDevice(in);
        return 1;
    }
    if (in.waveIn) {
        reportRecordingError(platform().waveInStop(in.waveIn));
        reportRecordingError(platform().waveInReset(in.waveIn));
        reportRecordingError(platform().waveInClose(in.waveIn));
        in.waveIn = nullptr;
    }
    releaseWaveInBuffers(in);
    return 1;
}

void CALLBACK waveInDone(HWAVEIN /*device*/, UINT message, DWORD_PTR /*instance*/, DWORD_PTR param1,
                         DWORD_PTR /*param2*/) {
    if (message != WIM_DATA || !param1) return;
    const int index = static_cast<int>(reinterpret_cast<WAVEHDR*>(param1)->dwUser);
    if (index < 0 || index >= kWaveInBufferCeiling) return;
    g_lastCompletedIndex.store(index);
    if (g_waveInEvents[index]) SetEvent(g_waveInEvents[index]);
}

void reportRecordingError(MMRESULT code) { showWaveError(code, platform().waveInGetErrorTextA, "recording"); }

void noteRecordingError(MMRESULT code) { noteStreamError(code, platform().waveInGetErrorTextA, "recording"); }
