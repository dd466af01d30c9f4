// The latency benchmark's baseline: the plainest pass-through on the same
// stack as the host, so its round trip is the virtual soundcard's own.
// Default capture device -> default playback device, 16-bit stereo 44100 Hz,
// one chunk at a time, no processing and no extra queueing:
// - wave: waveIn with eight chunk buffers round-robin (as the host reads),
//   each completed buffer copied into the next of 32 waveOut headers and
//   queued at once, then handed back to waveIn.
// - waver: the same with both devices at twice the rate, the stream the host
//   opens when it resamples, so its baseline has the platform's own handling
//   of that rate in it.
// - ds: a DirectSoundCapture ring of eight chunks with one notification per
//   chunk; each chunk is written into a DirectSound ring at a write position
//   that starts at the device's write cursor and then advances by one chunk
//   (back to the cursor if the device ever overtakes it).
// One thread; everything is allocated before the devices start.
// Usage: passthru wave|waver|ds <chunkFrames> <seconds>
// Prints "passthru open <epoch s>" when it starts opening the devices, and
// for wave and waver "passthru most queued <headers>" at the end: the latency its
// queue came to, beside the host's "most queued".
#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "wallclock.h"

namespace {

const int kRate = 44100;
const int kChannels = 2;
const int kFrameBytes = 2 * kChannels;
const int kInBuffers = 8;
const int kOutHeaders = 32;
const DWORD kWaitMs = 1000;

WAVEFORMATEX pcm16Stereo(int rate = kRate) {
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = kChannels;
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = kFrameBytes;
    format.nAvgBytesPerSec = rate * kFrameBytes;
    return format;
}

int fail(const char* what, long code) {
    fprintf(stderr, "passthru: %s failed (%ld)\n", what, code);
    return 1;
}

// waveIn -> waveOut.
int runWave(int chunkFrames, DWORD runMs, int rate) {
    const int chunkBytes = chunkFrames * kFrameBytes;
    WAVEFORMATEX format = pcm16Stereo(rate);
    std::vector<char> inMemory(kInBuffers * chunkBytes), outMemory(kOutHeaders * chunkBytes);
    WAVEHDR inHeaders[kInBuffers] = {}, outHeaders[kOutHeaders] = {};
    HANDLE captured = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HWAVEIN waveIn = nullptr;
    HWAVEOUT waveOut = nullptr;
    MMRESULT r = waveInOpen(&waveIn, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(captured), 0, CALLBACK_EVENT);
    if (r != MMSYSERR_NOERROR) return fail("waveInOpen", r);
    r = waveOutOpen(&waveOut, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL);
    if (r != MMSYSERR_NOERROR) {
        waveInClose(waveIn);
        return fail("waveOutOpen", r);
    }
    for (int i = 0; i < kOutHeaders; ++i) {
        outHeaders[i].lpData = &outMemory[i * chunkBytes];
        outHeaders[i].dwBufferLength = chunkBytes;
        waveOutPrepareHeader(waveOut, &outHeaders[i], sizeof(WAVEHDR));
        outHeaders[i].dwFlags |= WHDR_DONE;  // free for the first round
    }
    for (int i = 0; i < kInBuffers; ++i) {
        inHeaders[i].lpData = &inMemory[i * chunkBytes];
        inHeaders[i].dwBufferLength = chunkBytes;
        waveInPrepareHeader(waveIn, &inHeaders[i], sizeof(WAVEHDR));
        waveInAddBuffer(waveIn, &inHeaders[i], sizeof(WAVEHDR));
    }
    waveInStart(waveIn);

    const DWORD endTick = GetTickCount() + runMs;
    int nextIn = 0, nextOut = 0, mostQueued = 0;
    while (static_cast<LONG>(endTick - GetTickCount()) > 0) {
        WAVEHDR& in = inHeaders[nextIn];
        if (!(in.dwFlags & WHDR_DONE)) {
            WaitForSingleObject(captured, kWaitMs);
            continue;
        }
        WAVEHDR& out = outHeaders[nextOut];
        int queued = 0;
        for (const WAVEHDR& h : outHeaders) queued += (h.dwFlags & WHDR_DONE) ? 0 : 1;
        if (queued > mostQueued) mostQueued = queued;
        if (out.dwFlags & WHDR_DONE) {  // a full queue drops the chunk rather than block
            memcpy(out.lpData, in.lpData, in.dwBytesRecorded);
            out.dwBufferLength = in.dwBytesRecorded;
            out.dwFlags &= ~WHDR_DONE;
            waveOutWrite(waveOut, &out, sizeof(WAVEHDR));
            nextOut = (nextOut + 1) % kOutHeaders;
        }
        in.dwFlags &= ~WHDR_DONE;
        waveInAddBuffer(waveIn, &in, sizeof(WAVEHDR));
        nextIn = (nextIn + 1) % kInBuffers;
    }

    waveInReset(waveIn);
    waveOutReset(waveOut);
    for (WAVEHDR& h : inHeaders) waveInUnprepareHeader(waveIn, &h, sizeof(WAVEHDR));
    for (WAVEHDR& h : outHeaders) waveOutUnprepareHeader(waveOut, &h, sizeof(WAVEHDR));
    waveOutClose(waveOut);
    waveInClose(waveIn);
    CloseHandle(captured);
    printf("passthru most queued %d\n", mostQueued);
    return 0;
}

// The DirectSound pair with everything it holds; released in reverse order.
struct DsPair {
    IDirectSoundCapture* capture = nullptr;
    IDirectSoundCaptureBuffer* captureBuffer = nullptr;
    IDirectSound* output = nullptr;
    IDirectSoundBuffer* outputBuffer = nullptr;
    HANDLE chunkEvents[kInBuffers] = {};

    ~DsPair() {
        if (outputBuffer) outputBuffer->Stop(), outputBuffer->Release();
        if (output) output->Release();
        if (captureBuffer) captureBuffer->Stop(), captureBuffer->Release();
        if (capture) capture->Release();
        for (HANDLE e : chunkEvents)
            if (e) CloseHandle(e);
    }
};

bool openDs(DsPair& ds, int chunkBytes) {
    WAVEFORMATEX format = pcm16Stereo();
    const DWORD ringBytes = static_cast<DWORD>(kInBuffers * chunkBytes);
    HRESULT hr = DirectSoundCaptureCreate(nullptr, &ds.capture, nullptr);
    if (FAILED(hr)) return fail("DirectSoundCaptureCreate", hr) == 0;
    DSCBUFFERDESC captureDesc = {};
    captureDesc.dwSize = sizeof captureDesc;
    captureDesc.dwBufferBytes = ringBytes;
    captureDesc.lpwfxFormat = &format;
    hr = ds.capture->CreateCaptureBuffer(&captureDesc, &ds.captureBuffer, nullptr);
    if (FAILED(hr)) return fail("CreateCaptureBuffer", hr) == 0;

    IDirectSoundNotify* notify = nullptr;
    hr = ds.captureBuffer->QueryInterface(IID_IDirectSoundNotify, reinterpret_cast<void**>(&notify));
    if (FAILED(hr)) return fail("IDirectSoundNotify", hr) == 0;
    DSBPOSITIONNOTIFY marks[kInBuffers];
    for (int i = 0; i < kInBuffers; ++i) {
        ds.chunkEvents[i] = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        marks[i].dwOffset = static_cast<DWORD>((i + 1) * chunkBytes - 1);
        marks[i].hEventNotify = ds.chunkEvents[i];
    }
    hr = notify->SetNotificationPositions(kInBuffers, marks);
    notify->Release();
    if (FAILED(hr)) return fail("SetNotificationPositions", hr) == 0;

    hr = DirectSoundCreate(nullptr, &ds.output, nullptr);
    if (FAILED(hr)) return fail("DirectSoundCreate", hr) == 0;
    ds.output->SetCooperativeLevel(GetDesktopWindow(), DSSCL_PRIORITY);
    DSBUFFERDESC outputDesc = {};
    outputDesc.dwSize = sizeof outputDesc;
    outputDesc.dwFlags = DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS;
    outputDesc.dwBufferBytes = ringBytes;
    outputDesc.lpwfxFormat = &format;
    hr = ds.output->CreateSoundBuffer(&outputDesc, &ds.outputBuffer, nullptr);
    if (FAILED(hr)) return fail("CreateSoundBuffer", hr) == 0;
    return true;
}

void copyToRing(IDirectSoundBuffer* ring, DWORD offset, const void* data, DWORD bytes) {
    void *a = nullptr, *b = nullptr;
    DWORD aBytes = 0, bBytes = 0;
    if (FAILED(ring->Lock(offset, bytes, &a, &aBytes, &b, &bBytes, 0))) return;
    memcpy(a, data, aBytes);
    if (b) memcpy(b, static_cast<const char*>(data) + aBytes, bBytes);
    ring->Unlock(a, aBytes, b, bBytes);
}

// DirectSoundCapture -> DirectSound.
int runDs(int chunkBytes, DWORD runMs) {
    DsPair ds;
    if (!openDs(ds, chunkBytes)) return 1;
    const DWORD ringBytes = static_cast<DWORD>(kInBuffers * chunkBytes);
    std::vector<char> chunk(chunkBytes);
    ds.outputBuffer->Play(0, 0, DSBPLAY_LOOPING);
    ds.captureBuffer->Start(DSCBSTART_LOOPING);
    DWORD writePos = 0;
    bool first = true;

    const DWORD endTick = GetTickCount() + runMs;
    int nextChunk = 0;
    while (static_cast<LONG>(endTick - GetTickCount()) > 0) {
        if (WaitForSingleObject(ds.chunkEvents[nextChunk], kWaitMs) != WAIT_OBJECT_0) continue;
        void *a = nullptr, *b = nullptr;
        DWORD aBytes = 0, bBytes = 0;
        const DWORD readPos = static_cast<DWORD>(nextChunk * chunkBytes);
        if (SUCCEEDED(ds.captureBuffer->Lock(readPos, chunkBytes, &a, &aBytes, &b, &bBytes, 0))) {
            memcpy(chunk.data(), a, aBytes);
            if (b) memcpy(chunk.data() + aBytes, b, bBytes);
            ds.captureBuffer->Unlock(a, aBytes, b, bBytes);
        }
        // Start at the device's write cursor, and go back to it whenever the
        // device has overtaken us (more than half a ring "ahead" means behind).
        DWORD playCursor = 0, writeCursor = 0;
        ds.outputBuffer->GetCurrentPosition(&playCursor, &writeCursor);
        if (first || (writePos + ringBytes - writeCursor) % ringBytes > ringBytes / 2) writePos = writeCursor;
        first = false;
        copyToRing(ds.outputBuffer, writePos, chunk.data(), chunkBytes);
        writePos = (writePos + chunkBytes) % ringBytes;
        nextChunk = (nextChunk + 1) % kInBuffers;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: passthru wave|waver|ds <chunkFrames> <seconds>\n");
        return 2;
    }
    const bool directSound = strcmp(argv[1], "ds") == 0;
    const int chunkFrames = atoi(argv[2]);
    const DWORD runMs = static_cast<DWORD>(atof(argv[3]) * 1000);
    if (chunkFrames < 16 || chunkFrames > 16384) return fail("chunk size check", chunkFrames);
    printf("passthru open %.6f\n", wallClockSeconds());
    fflush(stdout);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const int waveRate = strcmp(argv[1], "waver") == 0 ? 2 * kRate : kRate;
    int status = directSound ? runDs(chunkFrames * kFrameBytes, runMs) : runWave(chunkFrames, runMs, waveRate);
    CoUninitialize();
    return status;
}
