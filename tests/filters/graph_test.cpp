// The reader, the test pass-through and the dump inside the platform's graph manager.
#include "graphfixture.h"

#include "settings/settings.h"

TEST_F(GraphTest, ConnectingHandsTheAgreedFormatToTheDumpPin) {
    connectAll(1, 48000);
    AM_MEDIA_TYPE expected = floatAudioType(1, 48000);
    DumpInputPin* pin = dump()->pin;
    EXPECT_EQ(0, memcmp(&pin->storedFormat, expected.pbFormat, 18));
    // Both connections carry the type they were made with.
    for (IPin* end : {readerPin_, writerPin_}) {
        AM_MEDIA_TYPE carried = {};
        ASSERT_EQ(S_OK, end->ConnectionMediaType(&carried));
        EXPECT_TRUE(mediaTypesEqual(carried, expected));
        freeMediaType(carried);
    }
    freeMediaType(expected);
}

TEST_F(GraphTest, ReaderAndDumpCheckMediaTypes) {
    // The reader takes float or PCM wave audio with its format block; the dump
    // any audio with a wave format type; neither takes another major or format type.
    struct Case {
        const char* what;
        WORD formatTag;
        void (*alter)(AM_MEDIA_TYPE&);
        HRESULT reader, dump;
    } cases[] = {
        {"float", WAVE_FORMAT_IEEE_FLOAT, [](AM_MEDIA_TYPE&) {}, S_OK, S_OK},
        {"pcm", WAVE_FORMAT_PCM, [](AM_MEDIA_TYPE&) {}, S_OK, S_OK},
        {"adpcm", 2, [](AM_MEDIA_TYPE&) {}, E_INVALIDARG, S_OK},
        {"video format", WAVE_FORMAT_IEEE_FLOAT, [](AM_MEDIA_TYPE& mt) { mt.formattype = FORMAT_VideoInfo; },
         E_INVALIDARG, E_INVALIDARG},
        {"no format", WAVE_FORMAT_IEEE_FLOAT, [](AM_MEDIA_TYPE& mt) { mt.cbFormat = 0; }, E_INVALIDARG, S_OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AM_MEDIA_TYPE mt = floatAudioType(2, 44100, c.formatTag);
        c.alter(mt);
        EXPECT_EQ(c.reader, synth()->stream->checkMediaType(&mt));
        EXPECT_EQ(c.dump, dump()->pin->checkMediaType(&mt));
        freeMediaType(mt);
    }
}

// A refused type, a second connection and a connection while paused leave the pins as they were; pausing
// the unconnected reader starts no worker.
TEST_F(GraphTest, RefusedConnectionsChangeNothing) {
    ASSERT_EQ(S_OK, graph_->AddFilter(plugin_, L"Filter"));
    ASSERT_EQ(S_OK, graph_->AddFilter(reader_, L"Reader"));
    AM_MEDIA_TYPE adpcm = floatAudioType(2, 44100, 2), mt = floatAudioType(2, 44100);
    EXPECT_NE(S_OK, graph_->ConnectDirect(readerPin_, &pass_->input, &adpcm));
    IPin* peer = nullptr;
    EXPECT_EQ(VFW_E_NOT_CONNECTED, readerPin_->ConnectedTo(&peer));
    EXPECT_EQ(VFW_E_NOT_CONNECTED, pass_->input.ConnectedTo(&peer));
    EXPECT_EQ(nullptr, synth()->stream->allocator());

    ASSERT_EQ(S_OK, reader_->Pause());
    EXPECT_EQ(VFW_E_NOT_STOPPED, readerPin_->Connect(&pass_->input, &mt));
    EXPECT_FALSE(synth()->stream->hasWorker());
    ASSERT_EQ(S_OK, reader_->Stop());

    ASSERT_EQ(S_OK, graph_->ConnectDirect(readerPin_, &pass_->input, &mt));
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, readerPin_->Connect(&pass_->input, &mt));
    ASSERT_EQ(S_OK, readerPin_->ConnectedTo(&peer));
    EXPECT_EQ(static_cast<IPin*>(&pass_->input), peer);
    peer->Release();
    EXPECT_NE(nullptr, synth()->stream->allocator());
    freeMediaType(adpcm);
    freeMediaType(mt);
}

// The graph run for real on the virtual soundcard's capture side.
class RunningGraphTest : public GraphTest {
protected:
    void SetUp() override {
        GraphTest::SetUp();
        writeSettingText("chunks_wave", "512");
        writeSettingText("DONT RESAMPLE", "TRUE");
    }
    void openReaderInput() { ASSERT_EQ(1, openInput(synth()->input, nullptr, 44100, 2)); }
    void TearDown() override {
        if (control_) control_->Stop();
        if (reader_) closeInput(synth()->input);
        if (pass_) pass_->releaseKept();
        GraphTest::TearDown();
    }
};

TEST_F(RunningGraphTest, RunDeliversSamplesWithFrameTimesAndStopEndsTheWorker) {
    connectAll(2, 44100);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);  // each run's sample times start again with the input
        openReaderInput();
        pass_->samplesReceived = 0;
        ASSERT_TRUE(SUCCEEDED(control_->Run()));
        EXPECT_TRUE(synth()->stream->hasWorker());
        ASSERT_TRUE(waitFor([&] { return pass_->samplesReceived >= 3; }));
        ASSERT_EQ(S_OK, control_->Stop());
        EXPECT_FALSE(synth()->stream->hasWorker());
        const int seen = pass_->samplesReceived;
        EXPECT_EQ(0, pass_->firstStart);
        EXPECT_EQ(512, pass_->firstStop);
        EXPECT_EQ(512, pass_->secondStart);
        EXPECT_EQ(1024, pass_->secondStop);
        EXPECT_EQ(512 * 4 * 2, pass_->secondLength);
        EXPECT_EQ(S_OK, pass_->lastDeliverResult.load());
        // A chunk filled while the graph stopped is counted but refused downstream.
        EXPECT_EQ(sampleClock(), synth()->stream->lastStopTime());
        EXPECT_GE(sampleClock(), seen * 512);
        EXPECT_LE(sampleClock(), (seen + 1) * 512);
        closeInput(synth()->input);
    }
}

// The worker's thread, seen in the capture calls it makes, and whether it
// was still alive when the input device was closed.
DWORD g_testThread, g_workerThread;
bool g_closedUnderWorker;

MMRESULT WINAPI noteWorker(HWAVEIN device, LPWAVEHDR header, UINT bytes) {
    if (GetCurrentThreadId() != g_testThread) g_workerThread = GetCurrentThreadId();
    return waveInAddBuffer(device, header, bytes);
}

MMRESULT WINAPI closeAfterWorker(HWAVEIN device) {
    HANDLE worker = g_workerThread ? OpenThread(SYNCHRONIZE, FALSE, g_workerThread) : nullptr;
    g_closedUnderWorker = worker && WaitForSingleObject(worker, 0) == WAIT_TIMEOUT;
    if (worker) CloseHandle(worker);
    return waveInClose(device);
}

TEST_F(RunningGraphTest, ReaderReleasedWhileRunningEndsItsWorkerBeforeClosingTheInput) {
    PlatformOverride seam;
    seam.api().waveInAddBuffer = noteWorker;
    seam.api().waveInClose = closeAfterWorker;
    g_testThread = GetCurrentThreadId();
    g_workerThread = 0;
    g_closedUnderWorker = false;
    writeSettingFlag("USE_DIRECTX", false);
    // Reader straight into the dump, outside the graph manager.
    AM_MEDIA_TYPE mt = floatAudioType(2, 44100);
    ASSERT_EQ(S_OK, readerPin_->Connect(writerPin_, &mt));
    freeMediaType(mt);
    openReaderInput();
    ASSERT_EQ(S_OK, reader_->Pause());
    ASSERT_TRUE(waitFor([] { return g_workerThread != 0; })) << "the worker captures";
    // The dump lets go of the reader; the reader's last reference goes while it is paused.
    EXPECT_EQ(S_OK, writerPin_->Disconnect());
    writerPin_->Release();
    writer_->Release();
    readerPin_->Release();
    EXPECT_EQ(0u, reader_->Release());
    EXPECT_FALSE(g_closedUnderWorker) << "the input closed while the worker still ran";
    reader_ = writer_ = nullptr;
    readerPin_ = writerPin_ = nullptr;
}

TEST_F(RunningGraphTest, StopWhileTheWorkerWaitsForABufferEndsIt) {
    connectAll(2, 44100);
    openReaderInput();
    // The pass-through keeps the reader's only sample: the worker then waits for a free one.
    pass_->keepSamples = true;
    ASSERT_TRUE(SUCCEEDED(control_->Run()));
    ASSERT_TRUE(waitFor([&] { return pass_->samplesReceived >= 1; }));
    Sleep(100);
    EXPECT_EQ(1, pass_->samplesReceived);
    EXPECT_TRUE(synth()->stream->hasWorker());

    ASSERT_EQ(S_OK, control_->Stop());
    EXPECT_FALSE(synth()->stream->hasWorker());
    pass_->releaseKept();
}
