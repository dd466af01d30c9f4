// The plug-in's filter streaming: samples of a known signal pushed into its
// input pin (from a stand-in upstream pin) reach a test sink processed, in
// place or, when the upstream samples are read-only, as a copy.
#include <cmath>
#include <string>

#include "ampdsp.h"
#include "amptest.h"
#include "filters/framework.h"
#include "support/fakefilter.h"

namespace {

const int kRate = 44100;
const int kChunkFrames = 441;
const int kChunks = 12;

AM_MEDIA_TYPE audioType(int channels) {
    WAVEFORMATEX wfx = {WAVE_FORMAT_IEEE_FLOAT, WORD(channels), kRate, 0, WORD(channels * 4), 32, 0};
    wfx.nAvgBytesPerSec = kRate * wfx.nBlockAlign;
    AM_MEDIA_TYPE mt = {};
    EXPECT_EQ(S_OK, buildAudioMediaType(wfx, true, mt));
    return mt;
}

float signalAt(int index) { return float(0.6 * std::sin(index * 0.05) + 0.3 * std::sin(index * 0.9)); }

// Records the samples, the buffer of the last one and ends of stream.
class RecordingPin : public BaseInputPin {
public:
    RecordingPin(BaseFilter* sink, CRITICAL_SECTION* lock) : BaseInputPin("Recording pin", sink, lock, L"In") {}
    HRESULT checkMediaType(const AM_MEDIA_TYPE* mt) override {
        return mt->majortype == MEDIATYPE_Audio && mt->formattype == FORMAT_WaveFormatEx ? S_OK : S_FALSE;
    }
    HRESULT receive(IMediaSample* sample) override {
        float* data = nullptr;
        sample->GetPointer(reinterpret_cast<BYTE**>(&data));
        lastBuffer = data;
        samples.insert(samples.end(), data, data + sample->GetActualDataLength() / 4);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EndOfStream() override {
        ++endsOfStream;
        return BaseInputPin::EndOfStream();
    }

    std::vector<float> samples;
    float* lastBuffer = nullptr;
    int endsOfStream = 0;
};

class RecordingSink : public BaseFilter {
public:
    RecordingSink() : BaseFilter("Recording sink", nullptr, &section, CLSID_NULL), input(this, &section) {
        InitializeCriticalSection(&section);
        NonDelegatingAddRef();
    }
    ~RecordingSink() override { DeleteCriticalSection(&section); }
    int pinCount() override { return 1; }
    BasePin* pin(int index) override { return index == 0 ? &input : nullptr; }

    CRITICAL_SECTION section;
    RecordingPin input;
};

IPin* pinAt(IBaseFilter* filter, int index) {
    IEnumPins* pins = nullptr;
    filter->EnumPins(&pins);
    pins->Skip(ULONG(index));
    IPin* pin = nullptr;
    pins->Next(1, &pin, nullptr);
    pins->Release();
    return pin;
}

// The amplifier between a stand-in upstream pin and the sink. Taken apart at
// the end, where every reference on the amplifier must have been given back.
class AmpChain {
public:
    explicit AmpChain(IBaseFilter* filter) : amp(filter), in(pinAt(amp, 0)), out(pinAt(amp, 1)) {
        transport = query<IMemInputPin>(in, IID_IMemInputPin);
    }
    ~AmpChain() {
        amp->Stop();
        sink->Stop();
        if (allocator) allocator->Decommit();
        releaseAndNull(allocator);
        in->Disconnect();
        out->Disconnect();
        sink->input.Disconnect();
        transport->Release();
        in->Release();
        out->Release();
        sink->Release();
        EXPECT_EQ(0u, amp->Release());
    }
    // Connects both sides with the given type and runs the two filters.
    void run(int channels, bool readOnly) {
        channels_ = channels;
        AM_MEDIA_TYPE mt = audioType(channels);
        EXPECT_EQ(S_OK, in->ReceiveConnection(&upstream, &mt));
        ASSERT_EQ(S_OK, transport->GetAllocator(&allocator));
        ALLOCATOR_PROPERTIES want = {2, kChunkFrames * channels * 4, 4, 0}, got;
        EXPECT_EQ(S_OK, allocator->SetProperties(&want, &got));
        EXPECT_EQ(S_OK, transport->NotifyAllocator(allocator, readOnly));
        EXPECT_EQ(S_OK, out->Connect(&sink->input, &mt));
        freeMediaType(mt);
        EXPECT_EQ(S_OK, allocator->Commit());
        EXPECT_EQ(S_OK, sink->Run(0));
        EXPECT_EQ(S_OK, amp->Run(0));
    }
    // Delivers the given chunk of the signal; the buffer it was in.
    float* deliver(int chunk) {
        IMediaSample* sample = nullptr;
        EXPECT_EQ(S_OK, allocator->GetBuffer(&sample, nullptr, nullptr, 0));
        float* data = nullptr;
        sample->GetPointer(reinterpret_cast<BYTE**>(&data));
        for (int i = 0; i < kChunkFrames * channels_; ++i) data[i] = signalAt(chunk * kChunkFrames * channels_ + i);
        sample->SetActualDataLength(kChunkFrames * channels_ * 4);
        EXPECT_EQ(S_OK, transport->Receive(sample));
        sample->Release();
        return data;
    }

    IBaseFilter* amp;
    IPin* in;
    IPin* out;
    IMemInputPin* transport;
    IMemAllocator* allocator = nullptr;
    FakePin upstream{PINDIR_OUTPUT};
    RecordingSink* sink = new RecordingSink;

private:
    int channels_ = 0;
};

}  // namespace

using AmpGraphTest = AmpComTest;

TEST_F(AmpGraphTest, ProcessesEachSampleInPlaceOrACopyWhenUpstreamSamplesAreReadOnly) {
    for (bool readOnly : {false, true}) {
        for (int channels : {2, 1}) {
            SCOPED_TRACE(std::to_string(channels) + (readOnly ? " channels, read-only" : " channels"));
            AmpChain chain(createAmp());
            ASSERT_NO_FATAL_FAILURE(chain.run(channels, readOnly));
            std::vector<float> expected(size_t(kChunks) * kChunkFrames * channels);
            for (size_t i = 0; i < expected.size(); ++i) expected[i] = signalAt(int(i));
            AmpDsp reference;  // what the amplifier at its defaults makes of the signal, chunk by chunk
            for (int c = 0; c < kChunks; ++c) {
                reference.process(expected.data() + size_t(c) * kChunkFrames * channels, kChunkFrames, channels);
                float* delivered = chain.deliver(c);
                EXPECT_EQ(!readOnly, delivered == chain.sink->input.lastBuffer) << "in place: the sink gets our sample";
            }
            EXPECT_EQ(expected, chain.sink->input.samples);
            EXPECT_EQ(S_OK, chain.in->EndOfStream());
            EXPECT_EQ(1, chain.sink->input.endsOfStream);
        }
    }
}
