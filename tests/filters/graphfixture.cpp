#include "graphfixture.h"

AM_MEDIA_TYPE floatAudioType(int channels, int sampleRate, WORD formatTag) {
    WAVEFORMATEX wfx = {};
    wfx.wFormatTag = formatTag;
    wfx.nChannels = static_cast<WORD>(channels);
    wfx.nSamplesPerSec = static_cast<DWORD>(sampleRate);
    wfx.wBitsPerSample = 32;
    wfx.nBlockAlign = static_cast<WORD>(channels * 32 / 8);
    wfx.nAvgBytesPerSec = static_cast<DWORD>(sampleRate * channels * 4);
    AM_MEDIA_TYPE mt = {};
    EXPECT_EQ(S_OK, buildAudioMediaType(wfx, true, mt));
    return mt;
}

IBaseFilter* createOurFilter(REFCLSID clsid) {
    IClassFactory* factory = nullptr;
    if (DllGetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)) != S_OK) return nullptr;
    IBaseFilter* filter = nullptr;
    factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter));
    factory->Release();
    return filter;
}

IPin* onlyPin(IBaseFilter* filter) {
    IEnumPins* pins = nullptr;
    if (FAILED(filter->EnumPins(&pins))) return nullptr;
    IPin* pin = nullptr;
    ULONG got = 0;
    pins->Next(1, &pin, &got);
    pins->Release();
    return got == 1 ? pin : nullptr;
}

void GraphTest::SetUp() {
    HarnwickTest::SetUp();
    ASSERT_EQ(0, liveObjectCount()) << "objects left over from an earlier test";
    comReady_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    ASSERT_TRUE(comReady_);
    registration_ = new PassThroughRegistration();
    ASSERT_TRUE(registration_->ok());

    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                     reinterpret_cast<void**>(&graph_)));
    ASSERT_EQ(S_OK, graph_->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control_)));
    reader_ = createOurFilter(CLSID_HarnwickReader);
    writer_ = createOurFilter(CLSID_HarnwickDump);
    ASSERT_NE(nullptr, reader_);
    ASSERT_NE(nullptr, writer_);
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_TestPassThrough, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                     reinterpret_cast<void**>(&plugin_)));
    pass_ = static_cast<PassThroughFilter*>(static_cast<BaseFilter*>(plugin_));
    readerPin_ = onlyPin(reader_);
    writerPin_ = onlyPin(writer_);
    ASSERT_NE(nullptr, readerPin_);
    ASSERT_NE(nullptr, writerPin_);
    // The reader finds the dump's pin the way it does in the live host.
    pWriterPin = writerPin_;
}

void GraphTest::connectAll(int channels, int sampleRate) {
    ASSERT_EQ(S_OK, graph_->AddFilter(plugin_, L"Filter"));
    ASSERT_EQ(S_OK, graph_->AddFilter(reader_, L"Reader"));
    ASSERT_EQ(S_OK, graph_->AddFilter(writer_, L"Writer"));
    AM_MEDIA_TYPE mt = floatAudioType(channels, sampleRate);
    EXPECT_EQ(S_OK, graph_->ConnectDirect(readerPin_, &pass_->input, &mt));
    EXPECT_EQ(S_OK, graph_->ConnectDirect(&pass_->output, writerPin_, &mt));
    freeMediaType(mt);
}

void GraphTest::takeApart() {
    takenApart_ = true;
    pWriterPin = nullptr;
    if (control_) control_->Stop();
    if (graph_) {
        graph_->Disconnect(writerPin_);
        graph_->Disconnect(&pass_->output);
        graph_->Disconnect(readerPin_);
        graph_->Disconnect(&pass_->input);
        graph_->RemoveFilter(plugin_);
        graph_->RemoveFilter(reader_);
        graph_->RemoveFilter(writer_);
    }
    const auto release = [](auto*& object, const char* what) {
        if (object) {
            EXPECT_EQ(0u, object->Release()) << what;
        }
        object = nullptr;
    };
    if (control_) control_->Release();
    control_ = nullptr;
    release(graph_, "graph manager");
    // The pins count on their filters: released first, the filters reach 0.
    for (IPin* pin : {readerPin_, writerPin_})
        if (pin) pin->Release();
    readerPin_ = writerPin_ = nullptr;
    release(plugin_, "pass-through");
    release(writer_, "dump filter");
    release(reader_, "reader filter");
    pass_ = nullptr;
    EXPECT_EQ(0, liveObjectCount());
    EXPECT_EQ(S_OK, DllCanUnloadNow());
}

void GraphTest::TearDown() {
    if (!takenApart_) takeApart();
    delete registration_;
    registration_ = nullptr;
    if (comReady_) CoUninitialize();
    HarnwickTest::TearDown();
}
