// Small COM fakes: a filter with chosen pins and an optional persistence interface, and pins that only
// know their direction. Reference counts are real so tests can see releases.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <functional>
#include <vector>

template <typename Interface>
class FakeUnknown : public Interface {
public:
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs); }
    ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&refs); }  // never deleted: tests own them
    LONG refs = 1;
};

// Like a real pin, a pin with an owner counts its references on its filter.
class FakePin : public FakeUnknown<IPin> {
public:
    explicit FakePin(PIN_DIRECTION d, HRESULT directionResult = S_OK, LONG* ownerRefs = nullptr)
        : direction(d), result(directionResult), owner(ownerRefs) {}
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(owner ? owner : &refs); }
    ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(owner ? owner : &refs); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin)) {
            *out = static_cast<IPin*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* d) override {
        *d = direction;
        return result;
    }
    HRESULT STDMETHODCALLTYPE Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Disconnect() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EndOfStream() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return E_NOTIMPL; }

    PIN_DIRECTION direction;
    HRESULT result;
    LONG* owner;  // the filter's count, or none
};

// Like a real enumerator, it holds a reference on its filter until it goes.
class FakePinEnum final : public FakeUnknown<IEnumPins> {
public:
    FakePinEnum(const std::vector<IPin*>& p, IUnknown* filter) : pins(p), owner(filter) { owner->AddRef(); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG n = InterlockedDecrement(&refs);
        if (n == 0) {
            owner->Release();
            delete this;
        }
        return n;
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG, IPin** out, ULONG* fetched) override {
        if (next >= pins.size()) {
            *out = nullptr;
            if (fetched) *fetched = 0;
            return S_FALSE;
        }
        *out = pins[next++];
        (*out)->AddRef();
        if (fetched) *fetched = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reset() override {
        next = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins**) override { return E_NOTIMPL; }
    std::vector<IPin*> pins;
    size_t next = 0;
    IUnknown* owner;
};

// A filter whose persisted state is a run of `stateBytes` copies of `value`.
class FakeFilter : public FakeUnknown<IBaseFilter>, public IPersistStream {
public:
    std::vector<IPin*> pins;
    bool persistent = true;
    ULONG stateBytes = 64;
    ULONG writtenBytes = 64;  // what Save really writes (may be less than stateBytes)
    BYTE value = 0x5A;
    int loads = 0;  // states offered to Load, taken or not
    std::function<void()> onSizeMax;  // runs before each answer to GetSizeMax; may change stateBytes

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IBaseFilter)) {
            *out = static_cast<IBaseFilter*>(this);
        } else if (persistent && IsEqualIID(iid, IID_IPersistStream)) {
            *out = static_cast<IPersistStream*>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return FakeUnknown<IBaseFilter>::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return FakeUnknown<IBaseFilter>::Release(); }

    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** out) override {
        *out = new FakePinEnum(pins, static_cast<IBaseFilter*>(this));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* id) override {
        *id = CLSID_NULL;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Stop() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Pause() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetState(DWORD, FILTER_STATE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR, IPin**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph*, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE IsDirty() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Load(IStream* stream) override {
        ++loads;
        std::vector<BYTE> data(stateBytes);
        ULONG read = 0;
        if (FAILED(stream->Read(data.data(), stateBytes, &read)) || read != stateBytes) return E_FAIL;
        value = data[0];
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Save(IStream* stream, BOOL) override {
        std::vector<BYTE> data(writtenBytes, value);
        return stream->Write(data.data(), writtenBytes, nullptr);
    }
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override {
        if (onSizeMax) onSizeMax();
        size->QuadPart = stateBytes;
        return S_OK;
    }
};
