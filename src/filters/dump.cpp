// The dump filter: the graph's renderer. The outer object (Dump) owns the
// filter, its input pin, two locks and the output stream. Every received
// sample goes to writeOutput under the receive lock, whatever the filter's
// state: the run control decides when audio flows, not this pin.
#include "filters/filters.h"

#include <new>

namespace {

const REGPINTYPES kDumpPinType = {&MEDIATYPE_Audio, &GUID_NULL};
const REGFILTERPINS kDumpPins[] = {
    {const_cast<LPWSTR>(L"Input"), TRUE, FALSE, FALSE, FALSE, &GUID_NULL, const_cast<LPWSTR>(L"Output"), 1,
     &kDumpPinType},
};
const FilterSetup kDumpSetup = {&CLSID_HarnwickDump, L"Harnwick Live dump", MERIT_DO_NOT_USE, 1, kDumpPins};

// Before the reader filter hands a format over, the pin offers the
// processing defaults (stereo float at 44100), a well-formed audio type.
WAVEFORMATEX defaultFormat() {
    WAVEFORMATEX wfx = {};
    wfx.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    wfx.nChannels = 2;
    wfx.nSamplesPerSec = 44100;
    wfx.wBitsPerSample = 32;
    wfx.nBlockAlign = 8;
    wfx.nAvgBytesPerSec = 44100 * 8;
    return wfx;
}

}  // namespace

const FilterSetup& dumpSetup() { return kDumpSetup; }

// ---------------------------------------------------------------- Dump

ComObject* Dump::create(IUnknown* outer, HRESULT* result) {
    auto* dump = new (std::nothrow) Dump(outer, result);
    if (!dump) *result = E_OUTOFMEMORY;
    return dump;
}

Dump::Dump(IUnknown* outer, HRESULT* result) : ComObject("Dump", outer) {
    InitializeCriticalSection(&filterLock);
    InitializeCriticalSection(&receiveLock);
    filter = new (std::nothrow) DumpFilter(this, owner(), &filterLock);
    if (!filter) {
        *result = E_OUTOFMEMORY;
        return;
    }
    pin = new (std::nothrow) DumpInputPin(this, filter, &filterLock, &receiveLock);
    if (!pin) *result = E_OUTOFMEMORY;
}

Dump::~Dump() {
    // A dump released with its output still open does not keep the device.
    if (filter) closeOutput(output, filter->outputOpen);
    delete pin;
    delete filter;
    delete position;
    DeleteCriticalSection(&receiveLock);
    DeleteCriticalSection(&filterLock);
}

HRESULT STDMETHODCALLTYPE Dump::NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    LockHold hold(&filterLock);
    if (iid == IID_IBaseFilter || iid == IID_IMediaFilter || iid == IID_IPersist) {
        return filter->NonDelegatingQueryInterface(iid, out);
    }
    if (iid == IID_IMediaPosition || iid == IID_IMediaSeeking) {
        if (!position) {
            position = new (std::nothrow) PositionPassThru("Dump position", owner(), pin);
            if (!position) {
                *out = nullptr;
                return E_OUTOFMEMORY;
            }
        }
        return position->NonDelegatingQueryInterface(iid, out);
    }
    return ComObject::NonDelegatingQueryInterface(iid, out);
}

Dump* dumpOf(IBaseFilter* filter) {
    CLSID clsid;
    if (!filter || FAILED(filter->GetClassID(&clsid)) || clsid != CLSID_HarnwickDump) return nullptr;
    return static_cast<DumpFilter*>(static_cast<BaseFilter*>(filter))->dump;
}

DumpInputPin* dumpInputPinOf(IPin* pin) {
    if (!pin) return nullptr;
    PIN_INFO info = {};
    if (FAILED(pin->QueryPinInfo(&info)) || !info.pFilter) return nullptr;
    Dump* dump = dumpOf(info.pFilter);
    info.pFilter->Release();
    return dump && static_cast<IPin*>(dump->pin) == pin ? dump->pin : nullptr;
}

// ---------------------------------------------------------------- DumpFilter

DumpFilter::DumpFilter(Dump* dumpObject, IUnknown* outer, CRITICAL_SECTION* lock)
    : BaseFilter("Dump filter", outer, lock, CLSID_HarnwickDump), dump(dumpObject) {}

BasePin* DumpFilter::pin(int index) { return index == 0 ? dump->pin : nullptr; }

const FilterSetup* DumpFilter::setupData() { return &kDumpSetup; }

HRESULT STDMETHODCALLTYPE DumpFilter::Stop() {
    LockHold hold(lock_);
    return BaseFilter::Stop();
}

HRESULT STDMETHODCALLTYPE DumpFilter::Run(REFERENCE_TIME start) {
    LockHold hold(lock_);
    return BaseFilter::Run(start);
}

// ---------------------------------------------------------------- DumpInputPin

DumpInputPin::DumpInputPin(Dump* dump, DumpFilter* filter, CRITICAL_SECTION* lock, CRITICAL_SECTION* receiveLock)
    : RenderedInputPin("Dump input pin", filter, lock, L"Input"),
      storedFormat(defaultFormat()),
      dump_(dump),
      receiveLock_(receiveLock) {}

// The upstream output pin commits and decommits the allocator; this pin
// keeps its end-of-stream state across activation.
HRESULT DumpInputPin::activate() { return S_OK; }
HRESULT DumpInputPin::deactivate() { return S_OK; }

HRESULT DumpInputPin::checkMediaType(const AM_MEDIA_TYPE* mt) {
    LockHold hold(lock_);
    return mt && mt->majortype == MEDIATYPE_Audio && mt->formattype == FORMAT_WaveFormatEx ? S_OK : E_INVALIDARG;
}

HRESULT DumpInputPin::getMediaType(int position, AM_MEDIA_TYPE* mt) {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    // Only the 18-byte base of the handed-over format is stored: no extra bytes to offer.
    WAVEFORMATEX format = storedFormat;
    format.cbSize = 0;
    return buildAudioMediaType(format, true, *mt);
}

HRESULT STDMETHODCALLTYPE DumpInputPin::EndOfStream() {
    LockHold hold(receiveLock_);
    return RenderedInputPin::EndOfStream();
}

HRESULT STDMETHODCALLTYPE DumpInputPin::Receive(IMediaSample* sample) {
    if (!sample) return E_POINTER;
    LockHold hold(receiveLock_);
    OutputStream& out = dump_->output;
    int frameBytes = out.channels * 4;
    int frames = frameBytes > 0 ? sample->GetActualDataLength() / frameBytes : 0;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    writeOutput(out, reinterpret_cast<const float*>(data), frames);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DumpInputPin::ReceiveCanBlock() { return S_FALSE; }
