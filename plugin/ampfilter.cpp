// The amplifier as a DirectShow in-place transform filter.
//
// How it works
// - Two pins: "In" accepts interleaved 32-bit float audio (1 or 2 channels,
//   any rate); "Out" offers exactly the type its input agreed.
// - Receive runs on the upstream filter's delivering thread: the sample's
//   frames are processed in place and the same sample is handed to the
//   downstream input pin before Receive returns. Only when the upstream
//   allocator declared its samples read-only is the audio copied into one of
//   the output pin's own samples first.
// - Stop, pause and run come from the graph through the base filter; end of
//   stream, flushes and new segments are passed downstream as they arrive.
//   Activating the input pin clears the tone stack's memory.
// - Locks: the filter-wide lock guards state changes and connections (base
//   classes); the receive path takes none and allocates nothing.
#include <new>

#include "ampcontrols.h"
#include "filters/framework.h"

namespace {

// Output samples used only on the read-only path; big enough for the
// chunks a live host delivers when the upstream allocator says nothing.
const long kDefaultBufferBytes = 128 * 1024;

const WAVEFORMATEX* waveFormat(const AM_MEDIA_TYPE* mt) {
    if (!mt || mt->formattype != FORMAT_WaveFormatEx || !mt->pbFormat || mt->cbFormat < 16) return nullptr;
    return reinterpret_cast<const WAVEFORMATEX*>(mt->pbFormat);
}

// Interleaved IEEE float, 32 bits, one or two channels.
bool isAmpFormat(const AM_MEDIA_TYPE* mt) {
    const WAVEFORMATEX* wfx = waveFormat(mt);
    return wfx && mt->majortype == MEDIATYPE_Audio && mt->subtype == MEDIASUBTYPE_IEEE_FLOAT &&
           wfx->wFormatTag == WAVE_FORMAT_IEEE_FLOAT && wfx->wBitsPerSample == 32 &&
           (wfx->nChannels == 1 || wfx->nChannels == 2) && wfx->nBlockAlign == wfx->nChannels * 4 &&
           wfx->nSamplesPerSec > 0;
}

bool sameAudioFormat(const AM_MEDIA_TYPE* a, const AM_MEDIA_TYPE* b) {
    const WAVEFORMATEX* x = waveFormat(a);
    const WAVEFORMATEX* y = waveFormat(b);
    return x && y && x->nChannels == y->nChannels && x->nSamplesPerSec == y->nSamplesPerSec;
}

}  // namespace

class AmpFilter;

class AmpInputPin : public BaseInputPin {
public:
    AmpInputPin(AmpFilter* filter, const WCHAR* name);

    HRESULT checkMediaType(const AM_MEDIA_TYPE* mt) override;
    HRESULT setMediaType(const AM_MEDIA_TYPE* mt) override;
    HRESULT activate() override;
    HRESULT receive(IMediaSample* sample) override;

    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    // The upstream allocator's buffer size, 0 when none was agreed yet.
    long upstreamBufferBytes();

private:
    HRESULT deliverCopy(IMediaSample* sample, BYTE* data, long bytes);

    AmpFilter* amp_;  // not counted: the filter owns its pins
};

class AmpOutputPin : public BaseOutputPin {
public:
    AmpOutputPin(AmpFilter* filter, const WCHAR* name);

    HRESULT checkMediaType(const AM_MEDIA_TYPE* mt) override;
    HRESULT getMediaType(int position, AM_MEDIA_TYPE* mt) override;
    HRESULT decideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* requested) override;

private:
    AmpFilter* amp_;  // not counted: the filter owns its pins
};

class AmpFilter : public BaseFilter, public AmpControls {
public:
    AmpFilter();
    ~AmpFilter() override;

    HW_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (queryControls(iid, out) == S_OK) return S_OK;
        return BaseFilter::NonDelegatingQueryInterface(iid, out);
    }
    // One class id for IBaseFilter's and IPersistStream's IPersist.
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override { return BaseFilter::GetClassID(clsid); }

    int pinCount() override { return kPinCount; }
    BasePin* pin(int index) override { return index >= 0 && index < kPinCount ? pins_[index] : nullptr; }

    AmpDsp& dsp() { return dsp_; }
    AmpInputPin& input() { return input_; }
    // The pin that delivers the processed audio; null in the two-input variant.
    AmpOutputPin* output() { return output_; }

private:
#if HW_AMP_TWO_INPUTS
    static const int kPinCount = 2;
#elif HW_AMP_THREE_PINS
    static const int kPinCount = 3;
#else
    static const int kPinCount = 2;
#endif

    CRITICAL_SECTION filterLock_;
    AmpInputPin input_;
#if HW_AMP_TWO_INPUTS
    AmpInputPin secondInput_;
    AmpOutputPin* output_ = nullptr;
#else
    AmpOutputPin out_;
    AmpOutputPin* output_ = &out_;
#endif
#if HW_AMP_THREE_PINS
    AmpOutputPin extraOut_;
#endif
    BasePin* pins_[kPinCount];
};

// ---------------------------------------------------------------- input pin

AmpInputPin::AmpInputPin(AmpFilter* filter, const WCHAR* name)
    : BaseInputPin("Amp input", filter, filter->filterLock(), name), amp_(filter) {}

HRESULT AmpInputPin::checkMediaType(const AM_MEDIA_TYPE* mt) {
    if (!isAmpFormat(mt)) return VFW_E_TYPE_NOT_ACCEPTED;
    AmpOutputPin* out = amp_->output();
    if (out && out->isConnected() && !sameAudioFormat(mt, &out->connectionType())) return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT AmpInputPin::setMediaType(const AM_MEDIA_TYPE* mt) {
    HRESULT hr = BaseInputPin::setMediaType(mt);
    if (hr == S_OK) amp_->dsp().setSampleRate(int(waveFormat(mt)->nSamplesPerSec));
    return hr;
}

HRESULT AmpInputPin::activate() {
    amp_->dsp().requestReset();
    return BaseInputPin::activate();
}

HRESULT AmpInputPin::receive(IMediaSample* sample) {
    const AM_SAMPLE2_PROPERTIES& props = sampleProps();
    BYTE* data = props.pbBuffer;
    long bytes = props.lActual;
    AmpOutputPin* out = amp_->output();
    if (readOnly_ && out) return deliverCopy(sample, data, bytes);

    int channels = connectionType().pbFormat ? waveFormat(&connectionType())->nChannels : 0;
    if (data && channels > 0 && bytes > 0)
        amp_->dsp().process(reinterpret_cast<float*>(data), int(bytes / (4 * channels)), channels);
    if (!out) return S_OK;
    return out->deliver(sample);
}

// The upstream samples may not be written: process a copy in one of ours.
HRESULT AmpInputPin::deliverCopy(IMediaSample* sample, BYTE* data, long bytes) {
    AmpOutputPin* out = amp_->output();
    IMediaSample* copy = nullptr;
    HRESULT hr = out->getDeliveryBuffer(&copy, nullptr, nullptr, 0);
    if (FAILED(hr)) return hr;
    BYTE* target = nullptr;
    copy->GetPointer(&target);
    long n = bytes < copy->GetSize() ? bytes : copy->GetSize();
    if (data && target && n > 0) CopyMemory(target, data, size_t(n));
    copy->SetActualDataLength(n);
    REFERENCE_TIME start = 0, stop = 0;
    if (sample->GetTime(&start, &stop) != VFW_E_SAMPLE_TIME_NOT_SET) copy->SetTime(&start, &stop);
    copy->SetSyncPoint(sample->IsSyncPoint() == S_OK);
    copy->SetDiscontinuity(sample->IsDiscontinuity() == S_OK);
    int channels = waveFormat(&connectionType())->nChannels;
    if (target && n > 0) amp_->dsp().process(reinterpret_cast<float*>(target), int(n / (4 * channels)), channels);
    hr = out->deliver(copy);
    copy->Release();
    return hr;
}

HRESULT STDMETHODCALLTYPE AmpInputPin::EndOfStream() {
    HRESULT hr = checkStreaming();
    if (hr != S_OK) return hr;
    AmpOutputPin* out = amp_->output();
    return out && out->isConnected() ? out->deliverEndOfStream() : S_OK;
}

HRESULT STDMETHODCALLTYPE AmpInputPin::BeginFlush() {
    BaseInputPin::BeginFlush();
    AmpOutputPin* out = amp_->output();
    return out && out->peer() ? out->peer()->BeginFlush() : S_OK;
}

HRESULT STDMETHODCALLTYPE AmpInputPin::EndFlush() {
    amp_->dsp().requestReset();  // what follows a flush does not continue what went before
    BaseInputPin::EndFlush();
    AmpOutputPin* out = amp_->output();
    return out && out->peer() ? out->peer()->EndFlush() : S_OK;
}

HRESULT STDMETHODCALLTYPE AmpInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    BaseInputPin::NewSegment(start, stop, rate);
    AmpOutputPin* out = amp_->output();
    return out && out->peer() ? out->peer()->NewSegment(start, stop, rate) : S_OK;
}

long AmpInputPin::upstreamBufferBytes() {
    LockHold hold(lock_);
    ALLOCATOR_PROPERTIES props = {};
    if (!allocator_ || FAILED(allocator_->GetProperties(&props))) return 0;
    return props.cbBuffer;
}

// ---------------------------------------------------------------- output pin

AmpOutputPin::AmpOutputPin(AmpFilter* filter, const WCHAR* name)
    : BaseOutputPin("Amp output", filter, filter->filterLock(), name), amp_(filter) {}

// The output carries what the input carries: it connects only after the input.
HRESULT AmpOutputPin::checkMediaType(const AM_MEDIA_TYPE* mt) {
    AmpInputPin& in = amp_->input();
    if (!isAmpFormat(mt) || !in.isConnected() || !sameAudioFormat(mt, &in.connectionType()))
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT AmpOutputPin::getMediaType(int position, AM_MEDIA_TYPE* mt) {
    if (position < 0) return E_INVALIDARG;
    AmpInputPin& in = amp_->input();
    if (position > 0 || !in.isConnected()) return VFW_S_NO_MORE_ITEMS;
    return copyMediaType(*mt, in.connectionType());
}

HRESULT AmpOutputPin::decideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* requested) {
    ALLOCATOR_PROPERTIES want = *requested;
    if (want.cBuffers < 2) want.cBuffers = 2;
    long upstream = amp_->input().upstreamBufferBytes();
    if (want.cbBuffer < upstream) want.cbBuffer = upstream;
    if (want.cbBuffer <= 0) want.cbBuffer = kDefaultBufferBytes;
    if (want.cbAlign <= 0) want.cbAlign = 1;
    ALLOCATOR_PROPERTIES actual = {};
    HRESULT hr = allocator->SetProperties(&want, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer >= want.cbBuffer && actual.cBuffers >= 1 ? S_OK : E_FAIL;
}

// ---------------------------------------------------------------- filter

AmpFilter::AmpFilter()
    : BaseFilter("Harnwick Amp", nullptr, &filterLock_, CLSID_HarnwickAmp),
      input_(this, L"In")
#if HW_AMP_TWO_INPUTS
      , secondInput_(this, L"In 2")
#else
      , out_(this, L"Out")
#endif
#if HW_AMP_THREE_PINS
      , extraOut_(this, L"Out 2")
#endif
{
    InitializeCriticalSection(&filterLock_);
    int n = 0;
    pins_[n++] = &input_;
#if HW_AMP_TWO_INPUTS
    pins_[n++] = &secondInput_;
#else
    pins_[n++] = &out_;
#endif
#if HW_AMP_THREE_PINS
    pins_[n++] = &extraOut_;
#endif
    ampObjectCreated();
}

AmpFilter::~AmpFilter() {
    ampObjectDestroyed();
    // The pins are members and go after this body; none takes the lock while
    // being destroyed.
    DeleteCriticalSection(&filterLock_);
}

IUnknown* createAmpFilter() {
    auto* filter = new (std::nothrow) AmpFilter;
    if (!filter) return nullptr;
    filter->NonDelegatingAddRef();
    return filter->nonDelegatingUnknown();
}
