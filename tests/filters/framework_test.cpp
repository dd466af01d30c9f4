// The framework's source stream worker, the base input pin's reception and
// the dump filter's own answers, with test filters built on the framework.
#include <atomic>
#include <vector>

#include "fakedevices.h"
#include "graphfixture.h"
#include "settings/settings.h"

namespace {

// A source whose fill-buffer hands out a fixed number of samples, then a
// chosen result.
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
            ALLOCATOR_PROPERTIES wanted = *requested, granted = {};
            wanted.cBuffers = 1;
            wanted.cbBuffer = 4096;
            return allocator->SetProperties(&wanted, &granted);
        }
        HRESULT fillBuffer(IMediaSample* sample) override {
            if (filled >= samplesBeforeEnd) return endResult;
            REFERENCE_TIME start = filled * 512, stop = start + 512;
            sample->SetTime(&start, &stop);
            sample->SetActualDataLength(4096);
            ++filled;
            return S_OK;
        }
        HRESULT onThreadCreate() override {
            ++threadsCreated;
            return S_OK;
        }
        std::atomic<int> filled{0};
        int samplesBeforeEnd = 3;
        HRESULT endResult = S_FALSE;
        std::atomic<int> threadsCreated{0};
    };

    CountingSource() : SourceFilter("Counting source", nullptr, CLSID_NULL) {
        reserveStreams(1);
        stream = new Stream(this);
    }
    Stream* stream;
};

class SourceTest : public GraphTest {
protected:
    void SetUp() override {
        GraphTest::SetUp();
        source_ = new CountingSource();
        source_->NonDelegatingAddRef();
        ASSERT_EQ(S_OK, graph_->AddFilter(source_, L"Source"));
        ASSERT_EQ(S_OK, graph_->AddFilter(plugin_, L"Filter"));
        ASSERT_EQ(S_OK, graph_->AddFilter(writer_, L"Writer"));
    }
    void connectSource() {
        AM_MEDIA_TYPE mt = floatAudioType(2, 44100);
        ASSERT_EQ(S_OK, graph_->ConnectDirect(source_->stream, &pass_->input, &mt));
        ASSERT_EQ(S_OK, graph_->ConnectDirect(&pass_->output, writerPin_, &mt));
        freeMediaType(mt);
    }
    void TearDown() override {
        if (control_) control_->Stop();
        if (graph_) {
            graph_->Disconnect(source_->stream);
            graph_->Disconnect(&pass_->input);
            graph_->RemoveFilter(source_);
        }
        EXPECT_EQ(0u, source_->NonDelegatingRelease());
        GraphTest::TearDown();
    }
    // The first event of this code within waitMs, with its first parameter.
    bool waitEvent(long wanted, LONG_PTR* param1, DWORD waitMs = 3000) {
        IMediaEvent* events = nullptr;
        if (FAILED(graph_->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events)))) return false;
        bool found = false;
        for (DWORD waited = 0; !found && waited < waitMs; waited += 50) {
            long code;
            LONG_PTR p1, p2;
            while (!found && events->GetEvent(&code, &p1, &p2, 50) == S_OK) {
                if (code == wanted) {
                    found = true;
                    *param1 = p1;
                }
                events->FreeEventParams(code, p1, p2);
            }
        }
        events->Release();
        return found;
    }
    CountingSource* source_ = nullptr;
};

}  // namespace

// A fill-buffer that ends the stream (S_FALSE) or fails delivers one end of
// stream after the samples it made; the graph hears EC_COMPLETE from the
// running dump, or EC_ERRORABORT with the failure; the worker waits for Stop.
TEST_F(SourceTest, FillBufferEndingOrFailingEndsTheStreamOnce) {
    struct Case {
        int samples;
        HRESULT end;
        long event;
        HRESULT reported;
    } cases[] = {{3, S_FALSE, EC_COMPLETE, S_OK}, {1, E_FAIL, EC_ERRORABORT, E_FAIL}};
    connectSource();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.event);
        source_->stream->filled = 0;
        source_->stream->samplesBeforeEnd = c.samples;
        source_->stream->endResult = c.end;
        pass_->endsOfStream = 0;
        pass_->samplesReceived = 0;
        ASSERT_TRUE(SUCCEEDED(control_->Run()));
        LONG_PTR reported = -1;
        ASSERT_TRUE(waitEvent(c.event, &reported));
        EXPECT_EQ(c.reported, static_cast<HRESULT>(reported));
        Sleep(100);
        EXPECT_EQ(1, pass_->endsOfStream);
        EXPECT_EQ(c.samples, pass_->samplesReceived);
        EXPECT_TRUE(dump()->pin->atEndOfStream());
        EXPECT_TRUE(source_->stream->hasWorker());
        ASSERT_EQ(S_OK, control_->Stop());
        EXPECT_FALSE(source_->stream->hasWorker());
    }
    EXPECT_EQ(2, source_->stream->threadsCreated) << "one worker a run";
}

TEST_F(SourceTest, PauseStartsOneWorkerAndASecondPauseNoOther) {
    // Unconnected: pausing succeeds and starts nothing.
    ASSERT_EQ(S_OK, source_->Pause());
    EXPECT_FALSE(source_->stream->hasWorker());
    ASSERT_EQ(S_OK, source_->Stop());

    connectSource();
    source_->stream->samplesBeforeEnd = 1000000;
    ASSERT_EQ(S_OK, source_->Pause());
    EXPECT_TRUE(source_->stream->hasWorker());
    ASSERT_EQ(S_OK, source_->Pause());
    ASSERT_EQ(S_OK, source_->Run(0));
    EXPECT_EQ(1, source_->stream->threadsCreated);
    ASSERT_EQ(S_OK, source_->Stop());
    EXPECT_FALSE(source_->stream->hasWorker());
}

TEST_F(SourceTest, SourcePinsAreFoundByTheirPosition) {
    IPin* pin = nullptr;
    ASSERT_EQ(S_OK, source_->FindPin(L"1", &pin));
    EXPECT_EQ(static_cast<IPin*>(source_->stream), pin);
    LPWSTR id = nullptr;
    ASSERT_EQ(S_OK, pin->QueryId(&id));
    EXPECT_STREQ(L"1", id);
    CoTaskMemFree(id);
    pin->Release();
    EXPECT_EQ(VFW_E_NOT_FOUND, source_->FindPin(L"2", &pin));
    EXPECT_EQ(VFW_E_NOT_FOUND, source_->FindPin(L"Out", &pin));
    // Other filters find pins by name.
    ASSERT_EQ(S_OK, plugin_->FindPin(L"Out", &pin));
    EXPECT_EQ(static_cast<IPin*>(&pass_->output), pin);
    pin->Release();
    EXPECT_EQ(VFW_E_NOT_FOUND, plugin_->FindPin(L"1", &pin));
}

// ---------------------------------------------------------------- reception

namespace {

// One sample from a memory allocator of its own.
class SampleSource {
public:
    explicit SampleSource(long bytes) {
        CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                         reinterpret_cast<void**>(&allocator_));
        ALLOCATOR_PROPERTIES wanted = {1, bytes, 1, 0}, granted = {};
        allocator_->SetProperties(&wanted, &granted);
        allocator_->Commit();
        allocator_->GetBuffer(&sample, nullptr, nullptr, 0);
        sample->SetActualDataLength(bytes);
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        ZeroMemory(data, bytes);
    }
    ~SampleSource() {
        sample->Release();
        allocator_->Decommit();
        allocator_->Release();
    }
    IMediaSample* sample = nullptr;

private:
    IMemAllocator* allocator_ = nullptr;
};

}  // namespace

TEST_F(GraphTest, StoppedBaseInputPinRefusesSamplesBeforeTheReceiveHook) {
    SampleSource source(4096);
    EXPECT_EQ(VFW_E_WRONG_STATE, pass_->input.Receive(source.sample));
    EXPECT_EQ(VFW_E_WRONG_STATE, pass_->input.EndOfStream());
    EXPECT_EQ(E_POINTER, pass_->input.Receive(nullptr));
    EXPECT_EQ(0, pass_->samplesReceived);

    // Not stopped: flushing and a recorded error keep samples out too.
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
    EXPECT_EQ(1, d->filter->outputOpen);

    // Stereo: 8192 bytes are 1024 frames, 4096 bytes of 16-bit samples on the device.
    SampleSource source(8192);
    EXPECT_TRUE(d->filter->isStopped());
    IMemInputPin* input = nullptr;
    ASSERT_EQ(S_OK, writerPin_->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input)));
    EXPECT_EQ(S_OK, input->Receive(source.sample));
    EXPECT_EQ(S_FALSE, input->ReceiveCanBlock());
    input->Release();
    ASSERT_EQ(1u, devices.waveOut.written.size());
    EXPECT_EQ(2048u, devices.waveOut.written[0].size());

    closeOutput(d->output, d->filter->outputOpen);
    EXPECT_EQ(0, d->filter->outputOpen);
}

TEST_F(GraphTest, DumpAnswersItsInterfacesAndMakesOnePositionPassThrough) {
    IBaseFilter* filter = nullptr;
    IPin* pin = nullptr;
    EXPECT_EQ(E_POINTER, writer_->QueryInterface(IID_IMediaSeeking, nullptr));
    ASSERT_EQ(S_OK, writer_->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter)));
    EXPECT_EQ(writer_, filter);
    filter->Release();
    EXPECT_EQ(E_NOINTERFACE, writer_->QueryInterface(IID_IPin, reinterpret_cast<void**>(&pin)));

    IMediaSeeking* seeking = nullptr;
    IMediaPosition* position = nullptr;
    ASSERT_EQ(S_OK, writer_->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking)));
    PositionPassThru* first = dump()->position;
    ASSERT_EQ(S_OK, writer_->QueryInterface(IID_IMediaPosition, reinterpret_cast<void**>(&position)));
    EXPECT_EQ(first, dump()->position);
    // Nothing upstream offers seeking: the pass-through says so.
    LONGLONG duration = 0;
    EXPECT_EQ(E_NOTIMPL, seeking->GetDuration(&duration));
    // The pass-through counts on the dump: same identity.
    IUnknown* a = nullptr;
    IUnknown* b = nullptr;
    seeking->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&a));
    writer_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&b));
    EXPECT_EQ(a, b);
    a->Release();
    b->Release();
    seeking->Release();
    position->Release();
}

TEST_F(GraphTest, PinEnumeratorWalksSkipsAndClones) {
    IEnumPins* pins = nullptr;
    ASSERT_EQ(S_OK, plugin_->EnumPins(&pins));
    IPin* got[3] = {};
    ULONG count = 0;
    EXPECT_EQ(S_FALSE, pins->Next(3, got, &count));
    ASSERT_EQ(2u, count);
    EXPECT_EQ(static_cast<IPin*>(&pass_->input), got[0]);
    EXPECT_EQ(static_cast<IPin*>(&pass_->output), got[1]);
    got[0]->Release();
    got[1]->Release();

    ASSERT_EQ(S_OK, pins->Reset());
    EXPECT_EQ(S_OK, pins->Skip(1));
    IEnumPins* copy = nullptr;
    ASSERT_EQ(S_OK, pins->Clone(&copy));
    EXPECT_EQ(S_FALSE, pins->Skip(2));
    EXPECT_EQ(S_FALSE, pins->Next(1, got, &count));
    EXPECT_EQ(0u, count);
    // The copy kept the position it was made at.
    ASSERT_EQ(S_OK, copy->Next(1, got, nullptr));
    EXPECT_EQ(static_cast<IPin*>(&pass_->output), got[0]);
    got[0]->Release();
    EXPECT_EQ(0u, copy->Release());
    EXPECT_EQ(0u, pins->Release());
}
