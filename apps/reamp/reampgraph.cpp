// The plug-in's graph for re-amping: a memory source that reads the take a
// chunk per sample, the plug-in, and a memory sink that writes each sample
// it receives, on the framework the live host's own filters use.
//
// The source's worker fills and delivers without waiting for any clock, so
// the take moves as fast as the plug-in takes it; the sink signals the job's
// finished event at the end of the stream or when it cannot write.
#include <new>

#include "entry/entry.h"
#include "filters/framework.h"
#include "reamp.h"

namespace {

// {2B0E64A1-5D8C-4F0B-A7C3-61D5E0F4B901}
const CLSID CLSID_ReampSource = {0x2b0e64a1, 0x5d8c, 0x4f0b, {0xa7, 0xc3, 0x61, 0xd5, 0xe0, 0xf4, 0xb9, 0x01}};
// {2B0E64A2-5D8C-4F0B-A7C3-61D5E0F4B901}
const CLSID CLSID_ReampSink = {0x2b0e64a2, 0x5d8c, 0x4f0b, {0xa7, 0xc3, 0x61, 0xd5, 0xe0, 0xf4, 0xb9, 0x01}};

const DWORD kStallMs = 10000;  // no chunk for this long: the plug-in stopped taking audio

WAVEFORMATEX floatFormat(const ReampJob& job) {
    WAVEFORMATEX wfx = {};
    wfx.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    wfx.nChannels = static_cast<WORD>(job.in.channels);
    wfx.nSamplesPerSec = static_cast<DWORD>(job.in.rate);
    wfx.wBitsPerSample = 32;
    wfx.nBlockAlign = static_cast<WORD>(4 * job.in.channels);
    wfx.nAvgBytesPerSec = wfx.nSamplesPerSec * wfx.nBlockAlign;
    return wfx;
}

bool isJobFormat(const ReampJob& job, const AM_MEDIA_TYPE* mt) {
    if (!mt || mt->majortype != MEDIATYPE_Audio || mt->subtype != MEDIASUBTYPE_IEEE_FLOAT ||
        mt->formattype != FORMAT_WaveFormatEx || !mt->pbFormat || mt->cbFormat < sizeof(WAVEFORMAT))
        return false;
    const WAVEFORMATEX* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt->pbFormat);
    return wfx->nChannels == job.in.channels && int(wfx->nSamplesPerSec) == job.in.rate;
}

class SourceStreamPin;

class MemorySource : public SourceFilter {
public:
    explicit MemorySource(ReampJob& job) : SourceFilter("Re-amp source", nullptr, CLSID_ReampSource), job(job) {}
    ReampJob& job;
};

class SourceStreamPin : public SourceStream {
public:
    explicit SourceStreamPin(MemorySource* filter)
        : SourceStream("Re-amp source stream", filter, L"Take"), job_(filter->job) {}

    HRESULT getSingleMediaType(AM_MEDIA_TYPE* mt) override { return buildAudioMediaType(floatFormat(job_), true, *mt); }
    HRESULT checkMediaType(const AM_MEDIA_TYPE* mt) override { return isJobFormat(job_, mt) ? S_OK : E_INVALIDARG; }

    HRESULT decideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* requested) override {
        ALLOCATOR_PROPERTIES wanted = *requested;
        wanted.cBuffers = 2;
        wanted.cbBuffer = job_.chunkFrames * 4 * job_.in.channels;
        wanted.cbAlign = 4 * job_.in.channels;
        ALLOCATOR_PROPERTIES granted = {};
        HRESULT hr = allocator->SetProperties(&wanted, &granted);
        if (FAILED(hr)) return hr;
        return granted.cbBuffer < wanted.cbBuffer ? E_FAIL : S_OK;
    }

    // One chunk of the take per sample; its times count frames, as in the live graph.
    HRESULT fillBuffer(IMediaSample* sample) override {
        if (reampCancelRequested()) return S_FALSE;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const double start = reampClock();
        const int frames = readWavFrames(job_.in, reinterpret_cast<float*>(data), job_.chunkFrames);
        job_.toolSeconds += reampClock() - start;
        if (frames < 0) {
            job_.readFailed = true;
            return E_FAIL;
        }
        if (frames == 0) return S_FALSE;
        sample->SetActualDataLength(frames * 4 * job_.in.channels);
        REFERENCE_TIME first = position_, last = position_ + frames;
        sample->SetTime(&first, &last);
        position_ = last;
        return S_OK;
    }

private:
    ReampJob& job_;
    REFERENCE_TIME position_ = 0;
};

class MemorySink;

class SinkPin : public RenderedInputPin {
public:
    SinkPin(MemorySink* filter, CRITICAL_SECTION* lock, ReampJob& job);

    HRESULT checkMediaType(const AM_MEDIA_TYPE* mt) override { return isJobFormat(job_, mt) ? S_OK : E_INVALIDARG; }

    HRESULT receive(IMediaSample* sample) override {
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const int frames = sample->GetActualDataLength() / (4 * job_.in.channels);
        const double start = reampClock();
        const bool written = writeWavFrames(job_.out, reinterpret_cast<const float*>(data), frames);
        job_.toolSeconds += reampClock() - start;
        if (!written) {
            job_.writeFailed = true;
            SetEvent(job_.finished);
            return E_FAIL;
        }
        job_.framesDone += frames;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE EndOfStream() override {
        HRESULT hr = RenderedInputPin::EndOfStream();
        SetEvent(job_.finished);
        return hr;
    }

private:
    ReampJob& job_;
};

class MemorySink : public BaseFilter {
public:
    explicit MemorySink(ReampJob& job)
        : BaseFilter("Re-amp sink", nullptr, &lock_, CLSID_ReampSink), input_(this, &lock_, job) {
        InitializeCriticalSection(&lock_);
    }
    ~MemorySink() override { DeleteCriticalSection(&lock_); }

    int pinCount() override { return 1; }
    BasePin* pin(int index) override { return index == 0 ? &input_ : nullptr; }

private:
    CRITICAL_SECTION lock_;
    SinkPin input_;
};

SinkPin::SinkPin(MemorySink* filter, CRITICAL_SECTION* lock, ReampJob& job)
    : RenderedInputPin("Re-amp sink input", filter, lock, L"Take"), job_(job) {}

// A new filter's IBaseFilter with one reference, or null.
IBaseFilter* baseFilterOf(ComObject* object) {
    if (!object) return nullptr;
    IBaseFilter* filter = nullptr;
    object->NonDelegatingAddRef();
    object->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter));
    object->NonDelegatingRelease();
    return filter;
}

IBaseFilter* createSource(ReampJob& job) {
    auto* source = new (std::nothrow) MemorySource(job);
    if (source && (!source->reserveStreams(1) || !new (std::nothrow) SourceStreamPin(source))) {
        baseFilterOf(source)->Release();
        return nullptr;
    }
    return baseFilterOf(source);
}

// The one pin of one of our filters, with a reference.
IPin* onlyPin(IBaseFilter* filter) {
    IPin* pin = nullptr;
    getFirstPinFromIBaseFilter(filter, &pin);
    return pin;
}

std::string hresultText(const char* what, HRESULT hr) {
    char text[160];
    snprintf(text, sizeof text, "%s (error 0x%08lX)", what, static_cast<unsigned long>(hr));
    return text;
}

std::string formatText(const ReampJob& job) {
    char text[64];
    snprintf(text, sizeof text, "%d Hz %s", job.in.rate, job.in.channels == 1 ? "mono" : "stereo");
    return text;
}

}  // namespace

std::string buildReampGraph(ReampJob& job, IBaseFilter* plugin, ReampGraph& g) {
    g.plugin = plugin;
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                  reinterpret_cast<void**>(&g.graph));
    if (FAILED(hr)) return hresultText("the filter graph manager cannot be created", hr);
    g.source = createSource(job);
    g.sink = baseFilterOf(new (std::nothrow) MemorySink(job));
    if (!g.source || !g.sink) return "out of memory";
    if (!getPinsFromIBaseFilter(plugin, &g.pluginIn, &g.pluginOut) || !g.pluginIn || !g.pluginOut)
        return "has not one input and one output pin";
    if (FAILED(hr = g.graph->AddFilter(g.source, L"Reader")) || FAILED(hr = g.graph->AddFilter(plugin, L"Filter")) ||
        FAILED(hr = g.graph->AddFilter(g.sink, L"Writer")))
        return hresultText("cannot join a filter graph", hr);

    AM_MEDIA_TYPE mt = {};
    WAVEFORMATEX wfx = floatFormat(job);
    if (FAILED(hr = buildAudioMediaType(wfx, true, mt))) return hresultText("out of memory", hr);
    IPin* sourcePin = onlyPin(g.source);
    IPin* sinkPin = onlyPin(g.sink);
    HRESULT in = g.graph->ConnectDirect(sourcePin, g.pluginIn, &mt);
    HRESULT out = SUCCEEDED(in) ? g.graph->ConnectDirect(g.pluginOut, sinkPin, &mt) : S_OK;
    freeMediaType(mt);
    if (sourcePin) sourcePin->Release();
    if (sinkPin) sinkPin->Release();
    if (FAILED(in) || FAILED(out))
        return hresultText(("refuses " + formatText(job) + " 32-bit float").c_str(), FAILED(in) ? in : out);
    return "";
}

std::string runReampGraph(ReampJob& job, ReampGraph& g, void (*tick)(void* context), void* context) {
    IMediaControl* control = nullptr;
    IMediaFilter* timing = nullptr;
    HRESULT hr = g.graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
    if (FAILED(hr)) return hresultText("the filter graph cannot be run", hr);
    // No reference clock: nothing waits for the time a sample is due.
    if (SUCCEEDED(g.graph->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(&timing)))) {
        timing->SetSyncSource(nullptr);
        timing->Release();
    }
    std::string problem;
    hr = control->Run();
    if (FAILED(hr)) problem = hresultText("the filter graph cannot be run", hr);
    int64_t lastDone = -1;
    DWORD lastChange = GetTickCount();
    while (problem.empty()) {
        DWORD woke = MsgWaitForMultipleObjects(1, &job.finished, FALSE, 250, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0) break;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        if (tick) tick(context);
        if (job.framesDone != lastDone) {
            lastDone = job.framesDone;
            lastChange = GetTickCount();
        } else if (GetTickCount() - lastChange > kStallMs) {
            problem = "stopped taking audio";
        }
    }
    control->Stop();
    control->Release();
    return problem;
}

void releaseReampGraph(ReampGraph& g) {
    if (g.graph) {
        for (IBaseFilter* filter : {g.source, g.plugin, g.sink})
            if (filter) g.graph->RemoveFilter(filter);
    }
    for (IPin** pin : {&g.pluginIn, &g.pluginOut}) {
        if (*pin) (*pin)->Release();
        *pin = nullptr;
    }
    for (IBaseFilter** filter : {&g.source, &g.sink}) {
        if (*filter) (*filter)->Release();
        *filter = nullptr;
    }
    if (g.graph) g.graph->Release();
    g.graph = nullptr;
}
