// The plug-in as a filter in the platform's graph manager, between a test
// source (a worker thread delivering a known signal) and a test sink that
// records what arrives and on which thread.
#include <control.h>

#include <algorithm>
#include <atomic>
#include <cmath>

#include "ampdsp.h"
#include "amptest.h"
#include "filters/framework.h"

namespace {

const int kRate = 44100;
const int kChunkFrames = 441;
const int kChunks = 12;

AM_MEDIA_TYPE audioType(int channels, WORD tag = WAVE_FORMAT_IEEE_FLOAT, WORD bits = 32) {
    WAVEFORMATEX wfx = {};
    wfx.wFormatTag = tag;
    wfx.nChannels = WORD(channels);
    wfx.nSamplesPerSec = kRate;
    wfx.wBitsPerSample = bits;
    wfx.nBlockAlign = WORD(channels * bits / 8);
    wfx.nAvgBytesPerSec = kRate * wfx.nBlockAlign;
    AM_MEDIA_TYPE mt = {};
    EXPECT_EQ(S_OK, buildAudioMediaType(wfx, true, mt));
    return mt;
}

float signalAt(int index) { return float(0.6 * std::sin(index * 0.05) + 0.3 * std::sin(index * 0.9)); }

// Delivers kChunks chunks of the signal, then ends the stream.
class ToneStream : public SourceStream {
public:
    ToneStream(SourceFilter* filter, int channels) : SourceStream("Tone", filter, L"Out"), channels_(channels) {}

    HRESULT getSingleMediaType(AM_MEDIA_TYPE* mt) override {
        *mt = audioType(channels_);
        return S_OK;
    }
    HRESULT decideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* requested) override {
        ALLOCATOR_PROPERTIES want = *requested, got = {};
        want.cBuffers = 2;
        want.cbBuffer = kChunkFrames * channels_ * 4;
        want.cbAlign = 4;
        return allocator->SetProperties(&want, &got);
    }
    HRESULT fillBuffer(IMediaSample* sample) override {
        if (chunk_ == kChunks) return S_FALSE;
        workerThread = GetCurrentThreadId();
        float* data = nullptr;
        sample->GetPointer(reinterpret_cast<BYTE**>(&data));
        if (filled < kChunks) buffers[filled++] = data;
        for (int i = 0; i < kChunkFrames * channels_; ++i) data[i] = signalAt(chunk_ * kChunkFrames * channels_ + i);
        sample->SetActualDataLength(kChunkFrames * channels_ * 4);
        REFERENCE_TIME start = chunk_ * kChunkFrames, stop = start + kChunkFrames;
        sample->SetTime(&start, &stop);
        ++chunk_;
        return S_OK;
    }

    std::atomic<DWORD> workerThread{0};
    float* buffers[kChunks] = {};  // the sample buffers it filled
    int filled = 0;

private:
    int channels_;
    int chunk_ = 0;
};

class ToneSource : public SourceFilter {
public:
    explicit ToneSource(int channels) : SourceFilter("Tone source", nullptr, CLSID_NULL) {
        reserveStreams(1);
        stream = new ToneStream(this, channels);
    }
    ToneStream* stream;
};

class RecordingSink;

class RecordingPin : public BaseInputPin {
public:
    RecordingPin(RecordingSink* sink, CRITICAL_SECTION* lock);
    HRESULT checkMediaType(const AM_MEDIA_TYPE* mt) override {
        return mt->majortype == MEDIATYPE_Audio && mt->formattype == FORMAT_WaveFormatEx ? S_OK : S_FALSE;
    }
    HRESULT receive(IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override {
        segmentStart = start;
        segmentRate = rate;
        return BaseInputPin::NewSegment(start, stop, rate);
    }

    REFERENCE_TIME segmentStart = -1;
    double segmentRate = 0;

private:
    RecordingSink* sink_;
};

class RecordingSink : public BaseFilter {
public:
    RecordingSink() : BaseFilter("Recording sink", nullptr, &lock_, CLSID_NULL), pin_(this, &lock_) {
        InitializeCriticalSection(&lock_);
        samples.reserve(kChunks * kChunkFrames * 2);
    }
    ~RecordingSink() override { DeleteCriticalSection(&lock_); }
    int pinCount() override { return 1; }
    RecordingPin& input() { return pin_; }
    BasePin* pin(int index) override { return index == 0 ? &pin_ : nullptr; }

    std::vector<float> samples;
    std::atomic<DWORD> receiveThread{0};
    std::atomic<bool> threadsDiffered{false};
    std::atomic<int> endsOfStream{0};
    std::atomic<float*> lastBuffer{nullptr};

private:
    CRITICAL_SECTION lock_;
    RecordingPin pin_;
};

RecordingPin::RecordingPin(RecordingSink* sink, CRITICAL_SECTION* lock)
    : BaseInputPin("Recording pin", sink, lock, L"In"), sink_(sink) {}

HRESULT RecordingPin::receive(IMediaSample* sample) {
    DWORD me = GetCurrentThreadId();
    DWORD previous = sink_->receiveThread.exchange(me);
    if (previous && previous != me) sink_->threadsDiffered = true;
    float* data = nullptr;
    sample->GetPointer(reinterpret_cast<BYTE**>(&data));
    sink_->lastBuffer = data;
    sink_->samples.insert(sink_->samples.end(), data, data + sample->GetActualDataLength() / 4);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RecordingPin::EndOfStream() {
    ++sink_->endsOfStream;
    return BaseInputPin::EndOfStream();
}

IPin* pinAt(IBaseFilter* filter, int index) {
    IEnumPins* pins = nullptr;
    filter->EnumPins(&pins);
    pins->Skip(ULONG(index));
    IPin* pin = nullptr;
    pins->Next(1, &pin, nullptr);
    pins->Release();
    return pin;
}

// What the amplifier at its defaults makes of the source's signal, chunk by chunk.
std::vector<float> processedSignal(int channels) {
    std::vector<float> expected(size_t(kChunks) * kChunkFrames * channels);
    for (size_t i = 0; i < expected.size(); ++i) expected[i] = signalAt(int(i));
    AmpDsp reference;
    reference.setSampleRate(kRate);
    for (int c = 0; c < kChunks; ++c)
        reference.process(expected.data() + size_t(c) * kChunkFrames * channels, kChunkFrames, channels);
    return expected;
}

class AmpGraphTest : public AmpComTest {
protected:
    void SetUp() override {
        AmpComTest::SetUp();
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                         reinterpret_cast<void**>(&graph_)));
        amp_ = createAmp();
        ASSERT_NE(nullptr, amp_);
        ampIn_ = pinAt(amp_, 0);
        ampOut_ = pinAt(amp_, 1);
        sink_ = new RecordingSink;
        sink_->NonDelegatingAddRef();
        ASSERT_EQ(S_OK, graph_->AddFilter(amp_, L"Filter"));
        ASSERT_EQ(S_OK, graph_->AddFilter(sink_, L"Sink"));
    }
    void TearDown() override {
        releaseAndNull(ampIn_);
        releaseAndNull(ampOut_);
        if (graph_) {
            if (source_) graph_->RemoveFilter(source_);
            graph_->RemoveFilter(amp_);
            graph_->RemoveFilter(sink_);
        }
        releaseAndNull(graph_);
        if (source_) source_->Release();
        if (sink_) sink_->Release();
        EXPECT_EQ(0u, amp_ ? amp_->Release() : 0u);
        AmpComTest::TearDown();
    }
    // Adds a source of the given channel count; its pin with a reference.
    IPin* addSource(int channels) {
        source_ = new ToneSource(channels);
        source_->NonDelegatingAddRef();
        EXPECT_EQ(S_OK, graph_->AddFilter(source_, L"Source"));
        return pinAt(source_, 0);
    }
    IPin* sinkPin() { return sink_->pin(0); }
    // A source of the given channel count connected through the amplifier to the sink.
    void connectSource(int channels) {
        IPin* sourcePin = addSource(channels);
        AM_MEDIA_TYPE mt = audioType(channels);
        HRESULT first = graph_->ConnectDirect(sourcePin, ampIn_, &mt);
        HRESULT second = graph_->ConnectDirect(ampOut_, sinkPin(), &mt);
        freeMediaType(mt);
        sourcePin->Release();
        ASSERT_EQ(S_OK, first);
        ASSERT_EQ(S_OK, second);
    }
    // Runs the graph until the sink has seen the end of the stream, then stops it.
    void runToEndOfStream() {
        IMediaControl* control = nullptr;
        ASSERT_EQ(S_OK, graph_->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control)));
        EXPECT_TRUE(SUCCEEDED(control->Run()));
        for (int waited = 0; waited < 5000 && sink_->endsOfStream == 0; waited += 10) Sleep(10);
        EXPECT_EQ(S_OK, control->Stop());
        control->Release();
    }

    IGraphBuilder* graph_ = nullptr;
    IBaseFilter* amp_ = nullptr;
    IPin* ampIn_ = nullptr;
    IPin* ampOut_ = nullptr;
    ToneSource* source_ = nullptr;
    RecordingSink* sink_ = nullptr;
};

}  // namespace

TEST_F(AmpGraphTest, ProcessesEachSampleAndDeliversItOnTheReceivingThread) {
    for (int channels : {2, 1}) {
        SCOPED_TRACE(channels);
        if (source_) {
            graph_->Disconnect(ampIn_);
            graph_->Disconnect(ampOut_);
            graph_->Disconnect(sinkPin());
            graph_->RemoveFilter(source_);
            source_->Release();
            sink_->samples.clear();
            sink_->endsOfStream = 0;
            sink_->receiveThread = 0;
            sink_->threadsDiffered = false;
        }
        ASSERT_NO_FATAL_FAILURE(connectSource(channels));
        ASSERT_NO_FATAL_FAILURE(runToEndOfStream());

        EXPECT_EQ(1, sink_->endsOfStream.load());
        EXPECT_EQ(source_->stream->workerThread.load(), sink_->receiveThread.load());
        EXPECT_FALSE(sink_->threadsDiffered);

        std::vector<float> expected = processedSignal(channels);
        ASSERT_EQ(expected.size(), sink_->samples.size());
        EXPECT_EQ(expected, sink_->samples);
        // In place: the sink got the source's own sample.
        const auto& filled = source_->stream->buffers;
        EXPECT_NE(filled + kChunks, std::find(filled, filled + kChunks, sink_->lastBuffer.load()));
    }
}

TEST_F(AmpGraphTest, ProcessesACopyWhenTheUpstreamSamplesAreReadOnly) {
    ASSERT_NO_FATAL_FAILURE(connectSource(2));
    // The source's allocator, declared read-only this time.
    IMemInputPin* transport = nullptr;
    ASSERT_EQ(S_OK, ampIn_->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&transport)));
    IMemAllocator* allocator = nullptr;
    ASSERT_EQ(S_OK, transport->GetAllocator(&allocator));
    ASSERT_EQ(S_OK, transport->NotifyAllocator(allocator, TRUE));
    allocator->Release();
    transport->Release();

    ASSERT_NO_FATAL_FAILURE(runToEndOfStream());

    EXPECT_EQ(processedSignal(2), sink_->samples);
    EXPECT_EQ(source_->stream->workerThread.load(), sink_->receiveThread.load());
    const auto& filled = source_->stream->buffers;
    EXPECT_EQ(filled + kChunks, std::find(filled, filled + kChunks, sink_->lastBuffer.load()));
}

TEST_F(AmpGraphTest, AcceptsOnlyFloatAudioOfOneOrTwoChannelsAndConnectsOutputAfterInput) {
    IPin* sourcePin = addSource(2);
    AM_MEDIA_TYPE pcm = audioType(2, WAVE_FORMAT_PCM, 16);
    AM_MEDIA_TYPE three = audioType(3);
    AM_MEDIA_TYPE stereo = audioType(2);
    AM_MEDIA_TYPE mono = audioType(1);
    EXPECT_NE(S_OK, ampIn_->QueryAccept(&pcm));
    EXPECT_NE(S_OK, ampIn_->QueryAccept(&three));
    EXPECT_EQ(S_OK, ampIn_->QueryAccept(&stereo));
    EXPECT_EQ(S_OK, ampIn_->QueryAccept(&mono));
    // Nothing to pass on yet: the output waits for the input.
    EXPECT_NE(S_OK, graph_->ConnectDirect(ampOut_, sinkPin(), &stereo));
    IEnumMediaTypes* types = nullptr;
    ASSERT_EQ(S_OK, ampOut_->EnumMediaTypes(&types));
    AM_MEDIA_TYPE* offered = nullptr;
    EXPECT_NE(S_OK, types->Next(1, &offered, nullptr));
    types->Release();

    ASSERT_EQ(S_OK, graph_->ConnectDirect(sourcePin, ampIn_, &stereo));
    // The output offers exactly what the input agreed, and nothing else.
    EXPECT_NE(S_OK, ampOut_->QueryAccept(&mono));
    ASSERT_EQ(S_OK, ampOut_->EnumMediaTypes(&types));
    ASSERT_EQ(S_OK, types->Next(1, &offered, nullptr));
    const WAVEFORMATEX* wfx = reinterpret_cast<const WAVEFORMATEX*>(offered->pbFormat);
    EXPECT_EQ(2, wfx->nChannels);
    EXPECT_EQ(DWORD(kRate), wfx->nSamplesPerSec);
    deleteMediaType(offered);
    types->Release();
    EXPECT_EQ(S_OK, graph_->ConnectDirect(ampOut_, sinkPin(), &stereo));

    for (AM_MEDIA_TYPE* mt : {&pcm, &three, &stereo, &mono}) freeMediaType(*mt);
    sourcePin->Release();
}

TEST_F(AmpGraphTest, PassesFlushesAndNewSegmentsDownstream) {
    ASSERT_NO_FATAL_FAILURE(connectSource(2));

    EXPECT_EQ(S_OK, ampIn_->BeginFlush());
    EXPECT_TRUE(sink_->input().isFlushing());
    EXPECT_EQ(S_OK, ampIn_->EndFlush());
    EXPECT_FALSE(sink_->input().isFlushing());
    EXPECT_EQ(S_OK, ampIn_->NewSegment(1234, 5678, 1.0));
    EXPECT_EQ(1234, sink_->input().segmentStart);
    EXPECT_EQ(1.0, sink_->input().segmentRate);
}
