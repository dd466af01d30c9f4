#include "passthrough.h"

#include <algorithm>

// {6A1C6D2F-3F0B-4E4B-9C5A-2B7E8D10A4C1}
const CLSID CLSID_TestPassThrough = {0x6a1c6d2f, 0x3f0b, 0x4e4b, {0x9c, 0x5a, 0x2b, 0x7e, 0x8d, 0x10, 0xa4, 0xc1}};

namespace {
bool isAudio(const AM_MEDIA_TYPE* mt) {
    return mt && mt->majortype == MEDIATYPE_Audio && mt->formattype == FORMAT_WaveFormatEx && mt->pbFormat;
}
}  // namespace

PassThroughInput::PassThroughInput(PassThroughFilter* filter)
    : BaseInputPin("Pass-through input", filter, filter->filterLock(), L"In"), owner_(filter) {}

std::atomic<bool> PassThroughFilter::refuseTypes{false};

HRESULT PassThroughInput::checkMediaType(const AM_MEDIA_TYPE* mt) {
    return isAudio(mt) && !PassThroughFilter::refuseTypes ? S_OK : E_INVALIDARG;
}

HRESULT PassThroughInput::receive(IMediaSample* sample) {
    int n = ++owner_->samplesReceived;
    REFERENCE_TIME start = -1, stop = -1;
    sample->GetTime(&start, &stop);
    if (n == 1) {
        owner_->firstStart = start;
        owner_->firstStop = stop;
    } else if (n == 2) {
        owner_->secondStart = start;
        owner_->secondStop = stop;
        owner_->secondLength = sample->GetActualDataLength();
    }
    if (owner_->keepSamples) {
        const int slot = owner_->keptCount_;
        if (slot < PassThroughFilter::kMaxKept) {
            sample->AddRef();
            owner_->kept_[slot] = sample;
            owner_->keptCount_ = slot + 1;
        }
        return S_OK;
    }
    // In place: the same sample goes on, on this thread.
    HRESULT hr = owner_->output.deliver(sample);
    owner_->lastDeliverResult = hr;
    return hr == VFW_E_NOT_CONNECTED ? S_OK : hr;
}

HRESULT STDMETHODCALLTYPE PassThroughInput::EndOfStream() {
    HRESULT hr = checkStreaming();
    if (hr != S_OK) return hr;
    ++owner_->endsOfStream;
    owner_->output.deliverEndOfStream();
    return S_OK;
}

PassThroughOutput::PassThroughOutput(PassThroughFilter* filter)
    : BaseOutputPin("Pass-through output", filter, filter->filterLock(), L"Out"), owner_(filter) {}

HRESULT PassThroughOutput::checkMediaType(const AM_MEDIA_TYPE* mt) {
    if (!isAudio(mt)) return E_INVALIDARG;
    // In place: the output carries what the input was given.
    if (owner_->input.isConnected() && !mediaTypesEqual(*mt, owner_->input.connectionType())) return E_INVALIDARG;
    return S_OK;
}

HRESULT PassThroughOutput::getMediaType(int position, AM_MEDIA_TYPE* mt) {
    if (position < 0) return E_INVALIDARG;
    if (position > 0 || !owner_->input.isConnected()) return VFW_S_NO_MORE_ITEMS;
    return copyMediaType(*mt, owner_->input.connectionType());
}

HRESULT PassThroughOutput::decideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* requested) {
    ALLOCATOR_PROPERTIES wanted = *requested, granted = {};
    wanted.cBuffers = std::max(wanted.cBuffers, 1L);
    wanted.cbBuffer = std::max(wanted.cbBuffer, 4096L);
    return allocator->SetProperties(&wanted, &granted);
}

PassThroughFilter::PassThroughFilter()
    : BaseFilter("Test pass-through", nullptr, &lock_, CLSID_TestPassThrough), input(this), output(this) {
    InitializeCriticalSection(&lock_);
}

PassThroughFilter::~PassThroughFilter() {
    releaseKept();
    DeleteCriticalSection(&lock_);
}

BasePin* PassThroughFilter::pin(int index) {
    return index == 0 ? static_cast<BasePin*>(&input) : index == 1 ? static_cast<BasePin*>(&output) : nullptr;
}

void PassThroughFilter::releaseKept() {
    int count = keptCount_;
    for (int i = 0; i < count; ++i) {
        kept_[i]->Release();
        kept_[i] = nullptr;
    }
    keptCount_ = 0;
}

namespace {

class PassThroughFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) return returnInterface(this, out);
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // Lives as long as the registration (a static object).
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        PassThroughFilter* filter = new PassThroughFilter();
        filter->NonDelegatingAddRef();
        HRESULT hr = filter->NonDelegatingQueryInterface(iid, out);
        filter->NonDelegatingRelease();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

PassThroughFactory g_factory;

}  // namespace

PassThroughRegistration::PassThroughRegistration() {
    const HRESULT hr =
        CoRegisterClassObject(CLSID_TestPassThrough, &g_factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_);
    if (FAILED(hr)) cookie_ = 0;
}

PassThroughRegistration::~PassThroughRegistration() {
    if (cookie_) CoRevokeClassObject(cookie_);
}
