#include "fakedevices.h"

#include <cstdio>
#include <cstring>

FakeDevices* FakeDevices::current = nullptr;

HRESULT FakeRing::lock(DWORD offset, DWORD bytes, void** p1, DWORD* n1, void** p2, DWORD* n2) {
    locks.emplace_back(offset, bytes);
    if (lockFails) return DSERR_INVALIDPARAM;
    const DWORD size = static_cast<DWORD>(this->bytes.size());
    const DWORD first = offset + bytes > size ? size - offset : bytes, second = bytes - first;
    *p1 = this->bytes.data() + offset;
    *n1 = first;
    if (p2) *p2 = second ? this->bytes.data() : nullptr;
    if (n2) *n2 = second;
    return DS_OK;
}

FakeDirectSound::~FakeDirectSound() {
    if (secondary) secondary->Release();
    if (primaryBuffer) primaryBuffer->Release();
}

HRESULT FakeDirectSound::CreateSoundBuffer(LPCDSBUFFERDESC description, LPLPDIRECTSOUNDBUFFER buffer, LPUNKNOWN) {
    const bool primary = description->dwFlags & DSBCAPS_PRIMARYBUFFER;
    if (primary ? primaryFails : secondaryFails) return DSERR_OUTOFMEMORY;
    FakeSoundBuffer* made = new FakeSoundBuffer(primary ? primaryBytes : description->dwBufferBytes);
    (primary ? primaryBuffer : secondary) = made;
    made->AddRef();  // one for the caller, one kept here for the test
    *buffer = made;
    return DS_OK;
}

HRESULT FakeDirectSound::GetCaps(LPDSCAPS caps) {
    caps->dwFlags = emulated ? DSCAPS_EMULDRIVER : 0;
    return DS_OK;
}

HRESULT FakeCaptureBuffer::QueryInterface(REFIID iid, void** object) {
    if (IsEqualIID(iid, IID_IDirectSoundNotify)) {
        *object = static_cast<IDirectSoundNotify*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

FakeCapture::~FakeCapture() {
    if (buffer) buffer->Release();
}

HRESULT FakeCapture::CreateCaptureBuffer(LPCDSCBUFFERDESC, LPDIRECTSOUNDCAPTUREBUFFER* made, LPUNKNOWN) {
    if (FAILED(createResult)) return createResult;
    buffer = new FakeCaptureBuffer(grantedBytes);
    buffer->AddRef();
    *made = buffer;
    return DS_OK;
}

namespace {

FakeWaveDriver& inDriver() { return FakeDevices::current->waveIn; }
FakeWaveDriver& outDriver() { return FakeDevices::current->waveOut; }

// DirectSoundCreate and DirectSoundCaptureCreate: the test's object, or the chosen failure.
template <class Object, class Fake, Fake* FakeDevices::*fake>
HRESULT WINAPI fakeCreate(LPCGUID, Object* object, LPUNKNOWN) {
    FakeDevices* d = FakeDevices::current;
    if (FAILED(d->createResult)) return d->createResult;
    (d->*fake)->AddRef();
    *object = d->*fake;
    return DS_OK;
}

MMRESULT enqueue(FakeWaveDriver& driver, LPWAVEHDR header) {
    if (driver.writeResult != MMSYSERR_NOERROR) return driver.writeResult;
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    driver.queue.push_back(header);
    return MMSYSERR_NOERROR;
}

void returnAll(FakeWaveDriver& driver) {
    for (WAVEHDR* header : driver.queue) header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    driver.queue.clear();
}

MMRESULT WINAPI fakeErrorText(MMRESULT code, LPSTR text, UINT size) {
    snprintf(text, size, "fake error %u", code);
    return MMSYSERR_NOERROR;
}

// The calls both directions share, for the driver `driver()` gives.
template <FakeWaveDriver& (*driver)(), class Handle>
MMRESULT WINAPI fakeOpen(Handle* device, UINT id, LPCWAVEFORMATEX format, DWORD_PTR callback, DWORD_PTR, DWORD) {
    FakeWaveDriver& d = driver();
    d.deviceId = id;
    d.format = *format;
    d.callback = callback;
    if (d.openResult != MMSYSERR_NOERROR) return d.openResult;
    d.open = true;
    *device = reinterpret_cast<Handle>(&d);
    return MMSYSERR_NOERROR;
}
template <FakeWaveDriver& (*driver)(), class Handle>
MMRESULT WINAPI fakePrepare(Handle, LPWAVEHDR header, UINT) {
    header->dwFlags |= WHDR_PREPARED;
    ++driver().prepared;
    return MMSYSERR_NOERROR;
}
template <FakeWaveDriver& (*driver)(), class Handle>
MMRESULT WINAPI fakeUnprepare(Handle, LPWAVEHDR header, UINT) {
    if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    if (header->dwFlags & WHDR_PREPARED) --driver().prepared;
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}
template <FakeWaveDriver& (*driver)(), class Handle>
MMRESULT WINAPI fakeReset(Handle) {
    returnAll(driver());
    return MMSYSERR_NOERROR;
}
template <FakeWaveDriver& (*driver)(), class Handle>
MMRESULT WINAPI fakeClose(Handle) {
    driver().open = false;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI fakeWaveOutWrite(HWAVEOUT, LPWAVEHDR h, UINT) {
    const MMRESULT result = enqueue(outDriver(), h);
    if (outDriver().instant) {
        FakeDevices::current->completeOutput();
    } else if (result == MMSYSERR_NOERROR) {
        const short* samples = reinterpret_cast<const short*>(h->lpData);
        outDriver().written.emplace_back(samples, samples + h->dwBufferLength / 2);
    }
    return result;
}

MMRESULT WINAPI fakeWaveInAddBuffer(HWAVEIN, LPWAVEHDR h, UINT) {
    const MMRESULT result = enqueue(inDriver(), h);
    if (inDriver().instant)
        while (inDriver().queue.size() > 1)
            FakeDevices::current->completeInput(inDriver().queue.front()->dwBufferLength, nullptr, false);
    return result;
}
MMRESULT WINAPI fakeWaveInStart(HWAVEIN) {
    inDriver().started = true;
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI fakeWaveInStop(HWAVEIN) {
    inDriver().started = false;
    return MMSYSERR_NOERROR;
}

}  // namespace

FakeDevices::FakeDevices() : directSound(new FakeDirectSound), capture(new FakeCapture) {
    current = this;
    PlatformApi& api = override_.api();
    api.directSoundCreate = fakeCreate<LPDIRECTSOUND, FakeDirectSound, &FakeDevices::directSound>;
    api.directSoundCaptureCreate = fakeCreate<LPDIRECTSOUNDCAPTURE, FakeCapture, &FakeDevices::capture>;
    api.waveOutOpen = fakeOpen<outDriver, HWAVEOUT>;
    api.waveOutPrepareHeader = fakePrepare<outDriver, HWAVEOUT>;
    api.waveOutUnprepareHeader = fakeUnprepare<outDriver, HWAVEOUT>;
    api.waveOutWrite = fakeWaveOutWrite;
    api.waveOutReset = fakeReset<outDriver, HWAVEOUT>;
    api.waveOutClose = fakeClose<outDriver, HWAVEOUT>;
    api.waveOutGetErrorTextA = fakeErrorText;
    api.waveInOpen = fakeOpen<inDriver, HWAVEIN>;
    api.waveInPrepareHeader = fakePrepare<inDriver, HWAVEIN>;
    api.waveInUnprepareHeader = fakeUnprepare<inDriver, HWAVEIN>;
    api.waveInAddBuffer = fakeWaveInAddBuffer;
    api.waveInStart = fakeWaveInStart;
    api.waveInStop = fakeWaveInStop;
    api.waveInReset = fakeReset<inDriver, HWAVEIN>;
    api.waveInClose = fakeClose<inDriver, HWAVEIN>;
    api.waveInGetErrorTextA = fakeErrorText;
}

FakeDevices::~FakeDevices() {
    directSound->Release();
    capture->Release();
    current = nullptr;
}

bool FakeDevices::completeInput(DWORD bytes, const std::vector<short>* samples, bool fill) {
    if (waveIn.queue.empty()) return false;
    WAVEHDR* header = waveIn.queue.front();
    waveIn.queue.pop_front();
    short* data = reinterpret_cast<short*>(header->lpData);
    for (DWORD k = 0; fill && k < bytes / 2; ++k)
        data[k] = samples ? (*samples)[k % samples->size()] : static_cast<short>(k);
    header->dwBytesRecorded = bytes;
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    typedef void(CALLBACK * Callback)(HWAVEIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);
    reinterpret_cast<Callback>(waveIn.callback)(nullptr, WIM_DATA, 0, reinterpret_cast<DWORD_PTR>(header), 0);
    return true;
}

bool FakeDevices::completeOutput() {
    if (waveOut.queue.empty()) return false;
    WAVEHDR* header = waveOut.queue.front();
    waveOut.queue.pop_front();
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    return true;
}
