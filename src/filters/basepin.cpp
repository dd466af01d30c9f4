// Pins: the connection protocol, the media type enumerator, the output pin's
// allocator and delivery, the input pin's reception, the rendered input pin.
#include "filters/enumerator.h"

namespace {

class MediaTypeEnumerator
    : public PositionEnumerator<MediaTypeEnumerator, IEnumMediaTypes, AM_MEDIA_TYPE*, BasePin> {
public:
    MediaTypeEnumerator(BasePin* pin, int position)
        : PositionEnumerator("Media type enumerator", IID_IEnumMediaTypes, pin, position) {}
    bool exists(int position) {
        AM_MEDIA_TYPE mt = {};
        bool found = holder()->getMediaType(position, &mt) == S_OK;
        freeMediaType(mt);
        return found;
    }
    bool fetch(int position, AM_MEDIA_TYPE** out) {
        AM_MEDIA_TYPE mt = {};
        if (holder()->getMediaType(position, &mt) != S_OK) {
            freeMediaType(mt);
            return false;
        }
        auto* copy = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        if (!copy) {
            freeMediaType(mt);
            return false;
        }
        *copy = mt;  // takes over the format block
        *out = copy;
        return true;
    }
};

// Codes that only say "this type will not do"; a connection that sees
// nothing else reports that no type was acceptable.
bool isTypeRefusal(HRESULT hr) { return hr == E_FAIL || hr == E_INVALIDARG || hr == VFW_E_TYPE_NOT_ACCEPTED; }

}  // namespace

// ---------------------------------------------------------------- BasePin

BasePin::BasePin(const char* objectName, BaseFilter* filter, CRITICAL_SECTION* lock, const WCHAR* pinName,
                 PIN_DIRECTION direction)
    : ComObject(objectName, nullptr), filter_(filter), lock_(lock), direction_(direction) {
    if (pinName) lstrcpynW(name_, pinName, MAX_PIN_NAME);
}

BasePin::~BasePin() {
    if (peer_) peer_->Release();
    freeMediaType(mt_);
}

HRESULT STDMETHODCALLTYPE BasePin::NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IPin || iid == IID_IUnknown) return returnInterface(static_cast<IPin*>(this), out);
    if (iid == IID_IQualityControl) return returnInterface(static_cast<IQualityControl*>(this), out);
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT BasePin::getMediaType(int position, AM_MEDIA_TYPE*) {
    return position < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS;
}

HRESULT BasePin::setMediaType(const AM_MEDIA_TYPE* mt) {
    freeMediaType(mt_);
    return copyMediaType(mt_, *mt);
}

HRESULT BasePin::checkConnect(IPin* peer) {
    PIN_DIRECTION peerDirection;
    HRESULT hr = peer->QueryDirection(&peerDirection);
    if (FAILED(hr)) return hr;
    return peerDirection == direction_ ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT BasePin::completeConnect(IPin*) { return S_OK; }
HRESULT BasePin::breakConnect() { return S_OK; }
HRESULT BasePin::activate() { return S_OK; }
HRESULT BasePin::deactivate() { return S_OK; }
HRESULT BasePin::run(REFERENCE_TIME) { return S_OK; }

HRESULT STDMETHODCALLTYPE BasePin::Connect(IPin* peer, const AM_MEDIA_TYPE* mt) {
    if (!peer) return E_POINTER;
    LockHold hold(lock_);
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    if (!filter_->isStopped() && !canReconnectWhenActive_) return VFW_E_NOT_STOPPED;
    return agreeMediaType(peer, mt);
}

HRESULT BasePin::agreeMediaType(IPin* peer, const AM_MEDIA_TYPE* mt) {
    if (mt && !isPartiallySpecified(*mt)) return attemptConnection(peer, mt);

    HRESULT lastFailure = VFW_E_NO_ACCEPTABLE_TYPES;
    for (int pass = 0; pass < 2; ++pass) {
        bool ownTypes = (pass == 0) == tryOwnTypesFirst_;
        IEnumMediaTypes* types = nullptr;
        HRESULT hr = ownTypes ? EnumMediaTypes(&types) : peer->EnumMediaTypes(&types);
        if (FAILED(hr) || !types) continue;
        hr = tryMediaTypes(peer, mt, types);
        types->Release();
        if (hr == S_OK) return S_OK;
        if (!isTypeRefusal(hr)) lastFailure = hr;
    }
    return lastFailure;
}

HRESULT BasePin::tryMediaTypes(IPin* peer, const AM_MEDIA_TYPE* partial, IEnumMediaTypes* types) {
    HRESULT lastFailure = VFW_E_NO_ACCEPTABLE_TYPES;
    types->Reset();
    for (;;) {
        AM_MEDIA_TYPE* candidate = nullptr;
        ULONG got = 0;
        if (types->Next(1, &candidate, &got) != S_OK || got != 1) break;
        HRESULT hr = VFW_E_TYPE_NOT_ACCEPTED;
        if (!partial || matchesPartial(*candidate, *partial)) hr = attemptConnection(peer, candidate);
        deleteMediaType(candidate);
        if (hr == S_OK) return S_OK;
        if (!isTypeRefusal(hr)) lastFailure = hr;
    }
    return lastFailure;
}

HRESULT BasePin::attemptConnection(IPin* peer, const AM_MEDIA_TYPE* mt) {
    HRESULT hr = checkConnect(peer);
    if (FAILED(hr)) {
        breakConnect();
        return hr;
    }
    hr = checkMediaType(mt);
    if (hr == S_OK) hr = setMediaType(mt);
    if (hr == S_OK) {
        peer_ = peer;
        peer_->AddRef();
        hr = peer->ReceiveConnection(this, mt);
        if (hr == S_OK) {
            hr = completeConnect(peer);
            if (hr == S_OK) return S_OK;
            peer->Disconnect();
        }
    }
    // A refusal given as a success code still refuses the type.
    if (SUCCEEDED(hr)) hr = VFW_E_TYPE_NOT_ACCEPTED;
    dropConnection();
    return hr;
}

void BasePin::dropConnection() {
    breakConnect();
    if (peer_) {
        peer_->Release();
        peer_ = nullptr;
    }
    freeMediaType(mt_);
}

HRESULT STDMETHODCALLTYPE BasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) {
    if (!connector || !mt) return E_POINTER;
    LockHold hold(lock_);
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    if (!filter_->isStopped() && !canReconnectWhenActive_) return VFW_E_NOT_STOPPED;
    HRESULT hr = checkConnect(connector);
    if (FAILED(hr)) {
        breakConnect();
        return hr;
    }
    hr = checkMediaType(mt);
    if (hr != S_OK) {
        breakConnect();
        return SUCCEEDED(hr) ? VFW_E_TYPE_NOT_ACCEPTED : hr;
    }
    peer_ = connector;
    peer_->AddRef();
    hr = setMediaType(mt);
    if (hr == S_OK) hr = completeConnect(connector);
    if (hr != S_OK) {
        dropConnection();
        return SUCCEEDED(hr) ? E_FAIL : hr;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE BasePin::Disconnect() {
    LockHold hold(lock_);
    if (!filter_->isStopped()) return VFW_E_NOT_STOPPED;
    if (!peer_) return S_FALSE;
    dropConnection();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE BasePin::ConnectedTo(IPin** peer) {
    if (!peer) return E_POINTER;
    LockHold hold(lock_);
    *peer = peer_;
    if (!peer_) return VFW_E_NOT_CONNECTED;
    peer_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE BasePin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    LockHold hold(lock_);
    if (!peer_) {
        ZeroMemory(mt, sizeof(*mt));
        return VFW_E_NOT_CONNECTED;
    }
    return copyMediaType(*mt, mt_);
}

HRESULT STDMETHODCALLTYPE BasePin::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    info->pFilter = filter_;
    filter_->AddRef();
    lstrcpynW(info->achName, name_, MAX_PIN_NAME);
    info->dir = direction_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE BasePin::QueryDirection(PIN_DIRECTION* direction) {
    if (!direction) return E_POINTER;
    *direction = direction_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE BasePin::QueryId(LPWSTR* id) {
    if (!id) return E_POINTER;
    size_t bytes = (lstrlenW(name_) + 1) * sizeof(WCHAR);
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (!*id) return E_OUTOFMEMORY;
    CopyMemory(*id, name_, bytes);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE BasePin::QueryAccept(const AM_MEDIA_TYPE* mt) {
    if (!mt) return E_POINTER;
    return checkMediaType(mt) == S_OK ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE BasePin::EnumMediaTypes(IEnumMediaTypes** types) {
    return MediaTypeEnumerator::open(this, 0, types);
}

HRESULT STDMETHODCALLTYPE BasePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE BasePin::EndOfStream() { return S_OK; }

HRESULT STDMETHODCALLTYPE BasePin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    segmentStart_ = start;
    segmentStop_ = stop;
    segmentRate_ = rate;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE BasePin::Notify(IBaseFilter*, Quality) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE BasePin::SetSink(IQualityControl*) { return S_OK; }

// ---------------------------------------------------------------- BaseOutputPin

BaseOutputPin::BaseOutputPin(const char* objectName, BaseFilter* filter, CRITICAL_SECTION* lock,
                             const WCHAR* pinName)
    : BasePin(objectName, filter, lock, pinName, PINDIR_OUTPUT) {}

BaseOutputPin::~BaseOutputPin() {
    if (allocator_) allocator_->Release();
    if (inputPin_) inputPin_->Release();
}

HRESULT BaseOutputPin::checkConnect(IPin* peer) {
    HRESULT hr = BasePin::checkConnect(peer);
    if (FAILED(hr)) return hr;
    IMemInputPin* input = nullptr;
    if (FAILED(peer->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input)))) {
        return VFW_E_INVALID_DIRECTION;
    }
    if (inputPin_) inputPin_->Release();
    inputPin_ = input;
    return S_OK;
}

HRESULT BaseOutputPin::completeConnect(IPin*) { return decideAllocator(inputPin_, &allocator_); }

HRESULT BaseOutputPin::breakConnect() {
    if (allocator_) {
        allocator_->Decommit();
        allocator_->Release();
        allocator_ = nullptr;
    }
    if (inputPin_) {
        inputPin_->Release();
        inputPin_ = nullptr;
    }
    return S_OK;
}

HRESULT BaseOutputPin::decideAllocator(IMemInputPin* peer, IMemAllocator** allocator) {
    if (*allocator) {
        (*allocator)->Release();
        *allocator = nullptr;
    }
    ALLOCATOR_PROPERTIES requested = {};
    peer->GetAllocatorRequirements(&requested);
    if (requested.cbAlign == 0) requested.cbAlign = 1;

    // The peer's own allocator first, then the platform's memory allocator.
    IMemAllocator* candidate = nullptr;
    HRESULT hr = peer->GetAllocator(&candidate);
    if (SUCCEEDED(hr)) {
        hr = tryAllocator(peer, candidate, requested);
        if (SUCCEEDED(hr)) {
            *allocator = candidate;
            return S_OK;
        }
        candidate->Release();
        candidate = nullptr;
    }
    hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                          reinterpret_cast<void**>(&candidate));
    if (FAILED(hr)) return hr;
    hr = tryAllocator(peer, candidate, requested);
    if (FAILED(hr)) {
        candidate->Release();
        return hr;
    }
    *allocator = candidate;
    return S_OK;
}

HRESULT BaseOutputPin::tryAllocator(IMemInputPin* peer, IMemAllocator* allocator, ALLOCATOR_PROPERTIES requested) {
    HRESULT hr = decideBufferSize(allocator, &requested);
    if (SUCCEEDED(hr)) hr = peer->NotifyAllocator(allocator, FALSE);
    return hr;
}

HRESULT BaseOutputPin::activate() {
    if (!allocator_) return VFW_E_NO_ALLOCATOR;
    return allocator_->Commit();
}

HRESULT BaseOutputPin::deactivate() {
    if (!allocator_) return VFW_E_NO_ALLOCATOR;
    return allocator_->Decommit();
}

HRESULT BaseOutputPin::getDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                         DWORD flags) {
    if (!allocator_) return E_NOINTERFACE;
    return allocator_->GetBuffer(sample, start, stop, flags);
}

HRESULT BaseOutputPin::deliver(IMediaSample* sample) {
    if (!inputPin_) return VFW_E_NOT_CONNECTED;
    return inputPin_->Receive(sample);
}

HRESULT BaseOutputPin::deliverEndOfStream() {
    if (!peer_) return VFW_E_NOT_CONNECTED;
    return peer_->EndOfStream();
}

// ---------------------------------------------------------------- BaseInputPin

BaseInputPin::BaseInputPin(const char* objectName, BaseFilter* filter, CRITICAL_SECTION* lock,
                           const WCHAR* pinName)
    : BasePin(objectName, filter, lock, pinName, PINDIR_INPUT) {}

BaseInputPin::~BaseInputPin() {
    if (allocator_) allocator_->Release();
}

HRESULT STDMETHODCALLTYPE BaseInputPin::NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IMemInputPin) return returnInterface(static_cast<IMemInputPin*>(this), out);
    return BasePin::NonDelegatingQueryInterface(iid, out);
}

HRESULT BaseInputPin::receive(IMediaSample*) { return S_OK; }

HRESULT BaseInputPin::breakConnect() {
    if (allocator_) {
        allocator_->Decommit();
        allocator_->Release();
        allocator_ = nullptr;
    }
    return S_OK;
}

HRESULT BaseInputPin::activate() { return S_OK; }

HRESULT BaseInputPin::deactivate() {
    runTimeError_ = false;
    if (allocator_) return allocator_->Decommit();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseInputPin::EndOfStream() { return checkStreaming(); }

HRESULT STDMETHODCALLTYPE BaseInputPin::BeginFlush() {
    LockHold hold(lock_);
    flushing_ = true;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseInputPin::EndFlush() {
    LockHold hold(lock_);
    flushing_ = false;
    runTimeError_ = false;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseInputPin::GetAllocator(IMemAllocator** allocator) {
    if (!allocator) return E_POINTER;
    LockHold hold(lock_);
    if (!allocator_) {
        HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                      reinterpret_cast<void**>(&allocator_));
        if (FAILED(hr)) {
            *allocator = nullptr;
            return hr;
        }
    }
    *allocator = allocator_;
    allocator_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
    if (!allocator) return E_POINTER;
    LockHold hold(lock_);
    allocator->AddRef();
    if (allocator_) allocator_->Release();
    allocator_ = allocator;
    readOnly_ = readOnly != FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }

HRESULT BaseInputPin::checkStreaming() {
    if (filter_->isStopped()) return VFW_E_WRONG_STATE;
    if (flushing_) return S_FALSE;
    if (runTimeError_) return VFW_E_RUNTIME_ERROR;
    return S_OK;
}

HRESULT BaseInputPin::readSampleProps(IMediaSample* sample) {
    IMediaSample2* sample2 = nullptr;
    if (SUCCEEDED(sample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void**>(&sample2)))) {
        HRESULT hr = sample2->GetProperties(sizeof(sampleProps_), reinterpret_cast<BYTE*>(&sampleProps_));
        sample2->Release();
        return hr;
    }

    // Built from the single getters.
    AM_SAMPLE2_PROPERTIES& p = sampleProps_;
    ZeroMemory(&p, sizeof(p));
    p.cbData = sizeof(p);
    HRESULT hr = sample->GetTime(&p.tStart, &p.tStop);
    if (SUCCEEDED(hr)) {
        p.dwSampleFlags |= AM_SAMPLE_TIMEVALID;
        if (hr == S_OK) p.dwSampleFlags |= AM_SAMPLE_STOPVALID;
    }
    if (sample->IsSyncPoint() == S_OK) p.dwSampleFlags |= AM_SAMPLE_SPLICEPOINT;
    if (sample->IsPreroll() == S_OK) p.dwSampleFlags |= AM_SAMPLE_PREROLL;
    if (sample->IsDiscontinuity() == S_OK) p.dwSampleFlags |= AM_SAMPLE_DATADISCONTINUITY;
    AM_MEDIA_TYPE* changed = nullptr;
    if (sample->GetMediaType(&changed) == S_OK && changed) {
        p.dwSampleFlags |= AM_SAMPLE_TYPECHANGED;
        // The copy is ours; it is checked here and not kept.
        hr = checkMediaType(changed);
        deleteMediaType(changed);
        if (hr != S_OK) return VFW_E_INVALIDMEDIATYPE;
    }
    sample->GetPointer(&p.pbBuffer);
    p.lActual = sample->GetActualDataLength();
    p.cbBuffer = sample->GetSize();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseInputPin::Receive(IMediaSample* sample) {
    if (!sample) return E_POINTER;
    HRESULT hr = checkStreaming();
    if (hr != S_OK) return hr;
    hr = readSampleProps(sample);
    if (FAILED(hr)) return hr;
    if ((sampleProps_.dwSampleFlags & AM_SAMPLE_TYPECHANGED) && sampleProps_.pMediaType &&
        checkMediaType(sampleProps_.pMediaType) != S_OK) {
        return VFW_E_INVALIDMEDIATYPE;
    }
    return receive(sample);
}

HRESULT STDMETHODCALLTYPE BaseInputPin::ReceiveMultiple(IMediaSample** samples, LONG count, LONG* done) {
    if (!samples || !done) return E_POINTER;
    *done = 0;
    HRESULT hr = S_OK;
    while (*done < count) {
        hr = Receive(samples[*done]);
        if (hr != S_OK) break;
        ++*done;
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE BaseInputPin::ReceiveCanBlock() { return S_OK; }

// ---------------------------------------------------------------- RenderedInputPin

RenderedInputPin::RenderedInputPin(const char* objectName, BaseFilter* filter, CRITICAL_SECTION* lock,
                                   const WCHAR* pinName)
    : BaseInputPin(objectName, filter, lock, pinName) {}

void RenderedInputPin::notifyCompletion() {
    completeNotified_ = true;
    filter_->notifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(filter_)));
}

HRESULT STDMETHODCALLTYPE RenderedInputPin::EndOfStream() {
    HRESULT hr = checkStreaming();
    if (hr == S_OK && !atEndOfStream_) {
        atEndOfStream_ = true;
        if (filter_->isRunning() && !completeNotified_) notifyCompletion();
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE RenderedInputPin::EndFlush() {
    {
        LockHold hold(lock_);
        atEndOfStream_ = false;
        completeNotified_ = false;
    }
    return BaseInputPin::EndFlush();
}

HRESULT RenderedInputPin::run(REFERENCE_TIME) {
    completeNotified_ = false;
    if (atEndOfStream_) notifyCompletion();
    return S_OK;
}

HRESULT RenderedInputPin::activate() {
    atEndOfStream_ = false;
    completeNotified_ = false;
    return BaseInputPin::activate();
}
