// Fake sound devices for the stream tests: DirectSound objects over plain memory, and wave API drivers
// whose queues a test drives by hand. FakeDevices installs them in the platform table for its scope.
#pragma once

#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include <deque>
#include <vector>

#include "platform/platform.h"

// Reference counting for the fakes (they delete themselves at zero), with no interface beyond their own.
template <class Interface>
class FakeObject : public Interface {
public:
    virtual ~FakeObject() = default;
    STDMETHOD(QueryInterface)(REFIID, void**) override { return E_NOINTERFACE; }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
    STDMETHOD_(ULONG, Release)() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    ULONG refs() const { return refs_; }

private:
    ULONG refs_ = 1;
};

// A looping byte ring as both DirectSound buffer kinds see it.
struct FakeRing {
    std::vector<unsigned char> bytes;
    DWORD playCursor = 0, writeCursor = 0;  // playback: play/write; capture: capture/read
    bool lockFails = false;
    std::vector<std::pair<DWORD, DWORD>> locks;  // (offset, bytes) asked for
    HRESULT lock(DWORD offset, DWORD bytes, void** p1, DWORD* n1, void** p2, DWORD* n2);
    DWORD size() const { return static_cast<DWORD>(bytes.size()); }
};

// The calls both buffer kinds share, over one ring.
template <class Interface, class Caps>
class FakeRingBuffer : public FakeObject<Interface> {
public:
    explicit FakeRingBuffer(DWORD bytes) { ring.bytes.assign(bytes, 0); }
    FakeRing ring;

    STDMETHOD(GetCaps)(Caps caps) override {
        caps->dwBufferBytes = ring.size();
        return DS_OK;
    }
    STDMETHOD(GetCurrentPosition)(LPDWORD first, LPDWORD second) override {
        if (first) *first = ring.playCursor;
        if (second) *second = ring.writeCursor;
        return DS_OK;
    }
    STDMETHOD(GetFormat)(LPWAVEFORMATEX, DWORD, LPDWORD) override { return E_NOTIMPL; }
    STDMETHOD(GetStatus)(LPDWORD) override { return E_NOTIMPL; }
    STDMETHOD(Lock)(DWORD offset, DWORD bytes, LPVOID* p1, LPDWORD n1, LPVOID* p2, LPDWORD n2, DWORD) override {
        return ring.lock(offset, bytes, p1, n1, p2, n2);
    }
    STDMETHOD(Unlock)(LPVOID, DWORD, LPVOID, DWORD) override { return DS_OK; }
};

class FakeSoundBuffer : public FakeRingBuffer<IDirectSoundBuffer, LPDSBCAPS> {
public:
    using FakeRingBuffer::FakeRingBuffer;
    bool playing = false;

    STDMETHOD(GetVolume)(LPLONG) override { return E_NOTIMPL; }
    STDMETHOD(GetPan)(LPLONG) override { return E_NOTIMPL; }
    STDMETHOD(GetFrequency)(LPDWORD) override { return E_NOTIMPL; }
    STDMETHOD(Initialize)(LPDIRECTSOUND, LPCDSBUFFERDESC) override { return E_NOTIMPL; }
    STDMETHOD(Play)(DWORD, DWORD, DWORD flags) override {
        playing = flags == DSBPLAY_LOOPING;
        return DS_OK;
    }
    STDMETHOD(SetCurrentPosition)(DWORD) override { return E_NOTIMPL; }
    STDMETHOD(SetFormat)(LPCWAVEFORMATEX) override { return DS_OK; }
    STDMETHOD(SetVolume)(LONG) override { return E_NOTIMPL; }
    STDMETHOD(SetPan)(LONG) override { return E_NOTIMPL; }
    STDMETHOD(SetFrequency)(DWORD) override { return E_NOTIMPL; }
    STDMETHOD(Stop)() override {
        playing = false;
        return DS_OK;
    }
    STDMETHOD(Restore)() override { return E_NOTIMPL; }
};

class FakeDirectSound : public FakeObject<IDirectSound> {
public:
    ~FakeDirectSound() override;
    bool emulated = false;
    bool writePrimaryRefused = false;
    bool secondaryFails = false;
    bool primaryFails = false;
    DWORD primaryBytes = 65536;
    FakeSoundBuffer* secondary = nullptr;  // the fake's own reference
    FakeSoundBuffer* primaryBuffer = nullptr;

    STDMETHOD(CreateSoundBuffer)(LPCDSBUFFERDESC description, LPLPDIRECTSOUNDBUFFER buffer, LPUNKNOWN) override;
    STDMETHOD(GetCaps)(LPDSCAPS caps) override;
    STDMETHOD(DuplicateSoundBuffer)(LPDIRECTSOUNDBUFFER, LPLPDIRECTSOUNDBUFFER) override { return E_NOTIMPL; }
    STDMETHOD(SetCooperativeLevel)(HWND, DWORD level) override {
        return level == DSSCL_WRITEPRIMARY && writePrimaryRefused ? DSERR_UNSUPPORTED : DS_OK;
    }
    STDMETHOD(Compact)() override { return E_NOTIMPL; }
    STDMETHOD(GetSpeakerConfig)(LPDWORD) override { return E_NOTIMPL; }
    STDMETHOD(SetSpeakerConfig)(DWORD) override { return E_NOTIMPL; }
    STDMETHOD(Initialize)(LPCGUID) override { return E_NOTIMPL; }
};

// The capture buffer and its notification part in one object, as one count.
class FakeCaptureBuffer : public FakeRingBuffer<IDirectSoundCaptureBuffer, LPDSCBCAPS>, public IDirectSoundNotify {
public:
    using FakeRingBuffer::FakeRingBuffer;
    std::vector<DSBPOSITIONNOTIFY> positions;

    STDMETHOD(QueryInterface)(REFIID iid, void** object) override;
    STDMETHOD_(ULONG, AddRef)() override { return FakeObject::AddRef(); }
    STDMETHOD_(ULONG, Release)() override { return FakeObject::Release(); }
    STDMETHOD(Initialize)(LPDIRECTSOUNDCAPTURE, LPCDSCBUFFERDESC) override { return E_NOTIMPL; }
    STDMETHOD(Start)(DWORD) override { return DS_OK; }
    STDMETHOD(Stop)() override { return DS_OK; }
    STDMETHOD(SetNotificationPositions)(DWORD n, LPCDSBPOSITIONNOTIFY table) override {
        positions.assign(table, table + n);
        return DS_OK;
    }

    // Signals the event of the notification at this position in the table.
    void signal(int entry) { SetEvent(positions.at(entry).hEventNotify); }
};

class FakeCapture : public FakeObject<IDirectSoundCapture> {
public:
    ~FakeCapture() override;
    HRESULT createResult = DS_OK;
    DWORD grantedBytes = 65536;
    FakeCaptureBuffer* buffer = nullptr;  // the fake's own reference

    STDMETHOD(CreateCaptureBuffer)(LPCDSCBUFFERDESC description, LPDIRECTSOUNDCAPTUREBUFFER* buffer,
                                   LPUNKNOWN) override;
    STDMETHOD(GetCaps)(LPDSCCAPS) override { return E_NOTIMPL; }
    STDMETHOD(Initialize)(LPCGUID) override { return E_NOTIMPL; }
};

// One fake wave driver (either direction): headers wait in its queue until the test completes them; like a
// real driver it refuses to unprepare a header still queued.
struct FakeWaveDriver {
    MMRESULT openResult = MMSYSERR_NOERROR;
    MMRESULT writeResult = MMSYSERR_NOERROR;  // waveOutWrite / waveInAddBuffer
    UINT deviceId = 12345;
    WAVEFORMATEX format = {};
    DWORD_PTR callback = 0;
    bool open = false;
    bool started = false;
    std::deque<WAVEHDR*> queue;
    std::vector<std::vector<short>> written;  // waveOut: samples of each queued header
    int prepared = 0;                         // headers prepared minus unprepared
    // A driver that keeps up by itself (for benchmarks): waveOut hands each header back at once; waveIn
    // completes every queued header but the newest, leaving its data as it is. Nothing is logged or copied.
    bool instant = false;
};

// Installs the fakes for its scope: the DirectSound creations hand out `directSound` and `capture`, the
// wave API goes to the two fake drivers. Enumeration stays the real one.
class FakeDevices {
public:
    FakeDevices();
    ~FakeDevices();
    FakeDevices(const FakeDevices&) = delete;
    FakeDevices& operator=(const FakeDevices&) = delete;

    FakeDirectSound* directSound;
    FakeCapture* capture;
    HRESULT createResult = DS_OK;  // of both DirectSound creations
    FakeWaveDriver waveIn;
    FakeWaveDriver waveOut;

    // waveIn: the driver fills the oldest queued header with bytes of data (sample value k at sample k unless
    // given) and returns it through the registered callback. False when nothing is queued.
    bool completeInput(DWORD bytes, const std::vector<short>* samples = nullptr, bool fill = true);
    // waveOut: the driver hands the oldest queued header back.
    bool completeOutput();

    static FakeDevices* current;

private:
    PlatformOverride override_;
};
