// The reader filter: the graph's source. Its one output pin's worker thread
// reads a chunk of soundcard input per sample (readInput) and stamps it with
// frame times from the module-wide sample clock. The input stream lives in
// the filter object and is opened and closed by the run control while the
// graph is stopped.
#include "filters/filters.h"

#include <new>

#include "tracelog/trace.h"

namespace {
const int kBufferFrames = 16384;  // one sample holds up to this many frames
const int kBytesPerSample = 4;    // 32-bit float
const REGPINTYPES kReaderPinType = {&MEDIATYPE_Audio, &GUID_NULL};
const REGFILTERPINS kReaderPins[] = {
    {const_cast<LPWSTR>(L"Output"), FALSE, TRUE, FALSE, FALSE, &GUID_NULL, const_cast<LPWSTR>(L"Input"), 1,
     &kReaderPinType},
};
const FilterSetup kReaderSetup = {&CLSID_HarnwickReader, L"Harnwick Live synt", MERIT_DO_NOT_USE, 1,
                                  kReaderPins};
}  // namespace

const FilterSetup& readerSetup() { return kReaderSetup; }

ComObject* SynthFilter::create(IUnknown* outer, HRESULT* result) {
    auto* filter = new (std::nothrow) SynthFilter(outer, result);
    if (!filter) *result = E_OUTOFMEMORY;
    return filter;
}

SynthFilter::SynthFilter(IUnknown* outer, HRESULT* result)
    : SourceFilter("Harnwick reader", outer, CLSID_HarnwickReader) {
    LockHold hold(stateLock());
    input.lock = stateLock();
    input.channels = 2;
    input.sampleRate = 44100;
    input.isOpen = 0;
    if (!reserveStreams(1)) {
        *result = E_OUTOFMEMORY;
        return;
    }
    stream = new (std::nothrow) SynthStream(this);
    if (!stream) *result = E_OUTOFMEMORY;
}

SynthFilter::~SynthFilter() {
    // A filter released with its input still open does not keep the device;
    // a worker still reading it ends first.
    if (stream) stream->stopWorker();
    closeInput(input);
}

SynthFilter* synthFilterOf(IBaseFilter* filter) {
    CLSID clsid;
    if (!filter || FAILED(filter->GetClassID(&clsid)) || clsid != CLSID_HarnwickReader) return nullptr;
    return static_cast<SynthFilter*>(static_cast<BaseFilter*>(filter));
}

SynthStream::SynthStream(SynthFilter* filter)
    : SourceStream("Audio Synth Stream", filter, L"Audio Synth Stream"), synth_(nullptr) {
    LockHold hold(lock_);
    synth_ = filter;
}

HRESULT SynthStream::checkMediaType(const AM_MEDIA_TYPE* mt) {
    LockHold hold(lock_);
    if (!mt || mt->majortype != MEDIATYPE_Audio || mt->formattype != FORMAT_WaveFormatEx) return E_INVALIDARG;
    if (!mt->pbFormat || mt->cbFormat < sizeof(WAVEFORMAT)) return E_INVALIDARG;
    WORD tag = reinterpret_cast<const WAVEFORMAT*>(mt->pbFormat)->wFormatTag;
    return tag == WAVE_FORMAT_PCM || tag == WAVE_FORMAT_IEEE_FLOAT ? S_OK : E_INVALIDARG;
}

HRESULT SynthStream::setMediaType(const AM_MEDIA_TYPE* mt) {
    LockHold hold(lock_);
    // The dump filter's pin learns the agreed format before the plug-in connects to it.
    DumpInputPin* dumpPin = dumpInputPinOf(pWriterPin);
    if (dumpPin && mt->pbFormat) {
        WAVEFORMATEX& stored = dumpPin->storedFormat;
        ZeroMemory(&stored, sizeof(stored));
        CopyMemory(&stored, mt->pbFormat, mt->cbFormat < sizeof(stored) ? mt->cbFormat : sizeof(stored));
    }
    HRESULT hr = SourceStream::setMediaType(mt);
    return FAILED(hr) ? hr : S_OK;
}

HRESULT SynthStream::decideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* requested) {
    LockHold hold(lock_);
    const int frameBytes = synth_->input.channels * kBytesPerSample;
    ALLOCATOR_PROPERTIES wanted = *requested;
    wanted.cBuffers = 1;
    wanted.cbBuffer = frameBytes * kBufferFrames;
    wanted.cbAlign = frameBytes;
    ALLOCATOR_PROPERTIES granted = {};
    HRESULT hr = allocator->SetProperties(&wanted, &granted);
    if (FAILED(hr)) return hr;
    if (granted.cbBuffer < wanted.cbBuffer) {
        TRACE(TRACE_WARNING, "Reader allocator granted %ld of %ld bytes", granted.cbBuffer, wanted.cbBuffer);
        return E_FAIL;
    }
    return S_OK;
}

HRESULT SynthStream::onThreadCreate() {
    priority_ = raiseAudioThreadPriority();
    return S_OK;
}

HRESULT SynthStream::onThreadDestroy() {
    restoreThreadPriority(priority_);
    return S_OK;
}

HRESULT SynthStream::fillBuffer(IMediaSample* sample) {
    InputStream& in = synth_->input;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    int frames = readInput(in, reinterpret_cast<float*>(data), in.chunkFrames);
    sample->SetActualDataLength(frames * kBytesPerSample * in.channels);
    REFERENCE_TIME start = static_cast<REFERENCE_TIME>(sampleClock());
    REFERENCE_TIME stop = start + frames;
    lastStop_ = stop;
    // Frame counts since the input was opened, not 100 ns units.
    sample->SetTime(&start, &stop);
    sample->SetMediaTime(&start, &stop);
    advanceSampleClock(frames);
    return S_OK;
}
