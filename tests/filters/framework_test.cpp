// The framework's source worker and input pin reception, and the dump's own answers.
#include "fakedevices.h"
#include "graphfixture.h"
#include "settings/settings.h"

namespace {

// A source whose fill-buffer hands out a number of samples, then a chosen result.
class CountingSource : public SourceFilter {
public:
    class Stream : public SourceStream {
    public:
        explicit Stream(CountingSource* filter) : SourceStream("Counting stream", filter, L"Out") {}
        HRESULT getSingleMediaType(AM_MEDIA_TYPE* mt) override {
            *mt = floatAudioType(2, 44100);
            return S_OK;
        }
        HRESULT decideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* requested) override {
            ALLOCATOR_PROPERTIES wanted = {1, 4096, requested->cbAlign, requested->cbPrefix}, granted = {};
            return allocator->SetProperties(&wanted, &granted);
        }
        HRESULT fillBuffer(IMediaSample* sample) override {
            if (filled >= samplesBeforeEnd) return endResult;
            ++filled;
            return sample->SetActualDataLength(4096);
        }
        int filled = 0, samplesBeforeEnd = 0;
        HRESULT endResult = S_FALSE;
    };
    CountingSource() : SourceFilter("Counting source", nullptr, CLSID_NULL) {
        reserveStreams(1);
        stream = new Stream(this);
    }
    Stream* stream;
};

// The first event of this code within 3 s, with its first parameter.
bool waitEvent(IGraphBuilder* graph, long wanted, LONG_PTR* param1) {
    IMediaEvent* events = nullptr;
    if (FAILED(graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events)))) return false;
    long code;
    LONG_PTR p1, p2;
    bool found = false;
    for (int polls = 0; !found && polls < 60; ++polls)
        while (!found && events->GetEvent(&code, &p1, &p2, 50) == S_OK) {
            found = code == wanted;
            if (found) *param1 = p1;
            events->FreeEventParams(code, p1, p2);
        }
    events->Release();
    return found;
}

// One sample from a memory allocator of its own.
struct SampleSource {
    explicit SampleSource(long bytes) {
        CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                         reinterpret_cast<void**>(&allocator));
        ALLOCATOR_PROPERTIES wanted = {1, bytes, 1, 0}, granted = {};
        allocator->SetProperties(&wanted, &granted);
        allocator->Commit();
        allocator->GetBuffer(&sample, nullptr, nullptr, 0);
        sample->SetActualDataLength(bytes);
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        ZeroMemory(data, bytes);
    }
    ~SampleSource() {
        sample->Release();
        allocator->Decommit();
        allocator->Release();
    }
    IMediaSample* sample = nullptr;
    IMemAllocator* allocator = nullptr;
};

}  // namespace

// A fill-buffer that ends the stream (S_FALSE, as the re-amp source at the end of its take) or fails
// delivers one end of stream after its samples; the graph hears EC_COMPLETE from the running dump, or
// EC_ERRORABORT with the failure; the worker waits for Stop.
TEST_F(GraphTest, FillBufferEndingOrFailingEndsTheStreamOnce) {
    CountingSource* source = new CountingSource();
    source->NonDelegatingAddRef();
    ASSERT_EQ(S_OK, graph_->AddFilter(source, L"Source"));
    ASSERT_EQ(S_OK, graph_->AddFilter(plugin_, L"Filter"));
    ASSERT_EQ(S_OK, graph_->AddFilter(writer_, L"Writer"));
    AM_MEDIA_TYPE mt = floatAudioType(2, 44100);
    ASSERT_EQ(S_OK, graph_->ConnectDirect(source->stream, &pass_->input, &mt));
    ASSERT_EQ(S_OK, graph_->ConnectDirect(&pass_->output, writerPin_, &mt));
    freeMediaType(mt);
    struct Case {
        int samples;
        HRESULT end;
        long event;
        HRESULT reported;
    } cases[] = {{3, S_FALSE, EC_COMPLETE, S_OK}, {1, E_FAIL, EC_ERRORABORT, E_FAIL}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.event);
        source->stream->filled = 0;
        source->stream->samplesBeforeEnd = c.samples;
        source->stream->endResult = c.end;
        pass_->endsOfStream = 0;
        pass_->samplesReceived = 0;
        ASSERT_TRUE(SUCCEEDED(control_->Run()));
        LONG_PTR reported = -1;
        EXPECT_TRUE(waitEvent(graph_, c.event, &reported));
        EXPECT_EQ(c.reported, static_cast<HRESULT>(reported));
        Sleep(100);
        EXPECT_EQ(1, pass_->endsOfStream);
        EXPECT_EQ(c.samples, pass_->samplesReceived);
        EXPECT_TRUE(dump()->pin->atEndOfStream());
        EXPECT_TRUE(source->stream->hasWorker());
        ASSERT_EQ(S_OK, control_->Stop());
        EXPECT_FALSE(source->stream->hasWorker());
    }
    graph_->Disconnect(source->stream);
    graph_->Disconnect(&pass_->input);
    graph_->RemoveFilter(source);
    EXPECT_EQ(0u, source->NonDelegatingRelease());
}

// As the amplifier plug-in's input receives: not while stopped, flushing or after a run-time error.
TEST_F(GraphTest, BaseInputPinRefusesSamplesWhenItMayNotTakeThem) {
    SampleSource source(4096);
    EXPECT_EQ(VFW_E_WRONG_STATE, pass_->input.Receive(source.sample));
    EXPECT_EQ(VFW_E_WRONG_STATE, pass_->input.EndOfStream());
    ASSERT_EQ(S_OK, plugin_->Pause());
    ASSERT_EQ(S_OK, pass_->input.BeginFlush());
    EXPECT_EQ(S_FALSE, pass_->input.Receive(source.sample));
    ASSERT_EQ(S_OK, pass_->input.EndFlush());
    pass_->input.setRunTimeError();
    EXPECT_EQ(VFW_E_RUNTIME_ERROR, pass_->input.Receive(source.sample));
    EXPECT_EQ(0, pass_->samplesReceived);
    ASSERT_EQ(S_OK, pass_->input.EndFlush());
    EXPECT_EQ(S_OK, pass_->input.Receive(source.sample));
    EXPECT_EQ(1, pass_->samplesReceived);
    ASSERT_EQ(S_OK, plugin_->Stop());
}

TEST_F(GraphTest, DumpPinWritesEverySampleEvenWhenStopped) {
    FakeDevices devices;
    writeSettingText("DONT RESAMPLE", "TRUE");  // waveOut at the processing rate
    Dump* d = dump();
    ASSERT_EQ(1, openOutput(d->output, d->filter->outputOpen, nullptr, 44100, 2));
    // Stereo: 8192 bytes are 1024 frames, 4096 bytes of 16-bit samples on the device.
    SampleSource source(8192);
    IMemInputPin* input = nullptr;
    ASSERT_EQ(S_OK, writerPin_->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input)));
    EXPECT_EQ(S_OK, input->Receive(source.sample));
    input->Release();
    ASSERT_EQ(1u, devices.waveOut.written.size());
    EXPECT_EQ(2048u, devices.waveOut.written[0].size());
    closeOutput(d->output, d->filter->outputOpen);
}

// The graph manager asks the renderer for seeking: one pass-through object that says nothing upstream seeks.
TEST_F(GraphTest, DumpMakesOnePositionPassThrough) {
    IMediaSeeking* seeking = nullptr;
    IMediaPosition* position = nullptr;
    ASSERT_EQ(S_OK, writer_->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking)));
    PositionPassThru* first = dump()->position;
    ASSERT_EQ(S_OK, writer_->QueryInterface(IID_IMediaPosition, reinterpret_cast<void**>(&position)));
    EXPECT_EQ(first, dump()->position);
    LONGLONG duration = 0;
    EXPECT_EQ(E_NOTIMPL, seeking->GetDuration(&duration));
    seeking->Release();
    position->Release();
}
