// The output stream against fake devices: sizes taken from the settings, the
// DirectSound write and its resynchronisation, the waveOut fade and cut, and
// what the user is told when a device fails.
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/outputstream.h"
#include "fakedevices.h"
#include "settings/settings.h"
#include "support/testenv.h"

namespace {

class OutputStreamTest : public HarnwickTest {
protected:
    void useDirectSound() { writeSettingText("USE_DIRECTX", "TRUE"); }
    void useWaveOut(int chunkFrames) {
        writeSettingText("DONT RESAMPLE", "TRUE");
        writeSettingInt("chunks_wave", chunkFrames);
    }
    void TearDown() override {
        closeOutput(out, isOpen);
        HarnwickTest::TearDown();
    }
    short ringSample(int byteOffset) {
        short s;
        memcpy(&s, devices.directSound->secondary->ring.bytes.data() + byteOffset, 2);
        return s;
    }

    FakeDevices devices;
    OutputStream out;
    int isOpen = 0;
};

TEST_F(OutputStreamTest, SizesFromSettings) {
    useDirectSound();
    struct Case {
        int rate, channels;
        const char* latencyMs;
        const char* resyncSeconds;
        const char* chunks;
        int ringBytes, latencyBytes, resyncFrames, chunkFrames;
    } cases[] = {
        {44100, 2, "10", "", "", 529200, 1764, 44100, 1024},
        {44100, 2, "3", "0", "9", 529200, 528, 44100, 1024},
        {44100, 1, "", "-5", "8193", 264600, 0, 44100, 1024},
        {11025, 1, "-3", "2", "8192", 66148, -68, 22050, 8192},
        {48000, 2, "1", "5", "10", 576000, 192, 240000, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        writeSettingText("out lat ms", c.latencyMs);
        writeSettingText("resync second", c.resyncSeconds);
        writeSettingText("chunks", c.chunks);
        ASSERT_EQ(1, openOutput(out, isOpen, nullptr, c.rate, c.channels));
        EXPECT_EQ(1, isOpen);
        EXPECT_EQ(static_cast<DWORD>(c.ringBytes), devices.directSound->secondaryDescription.dwBufferBytes);
        EXPECT_EQ(c.ringBytes, out.ringBytes) << "the size the buffer reports";
        EXPECT_EQ(c.latencyBytes, out.latencyOffsetBytes);
        EXPECT_EQ(c.resyncFrames, out.resyncPeriodFrames);
        EXPECT_EQ(c.chunkFrames, out.chunkFrames);
        EXPECT_EQ(c.channels, devices.directSound->secondaryFormat.nChannels);
        EXPECT_EQ(static_cast<DWORD>(c.rate), devices.directSound->secondaryFormat.nSamplesPerSec);
        EXPECT_EQ(1, closeOutput(out, isOpen));
        EXPECT_EQ(0, isOpen);
        EXPECT_EQ(c.latencyBytes, readSettingInt("resync_bytes_out learned"));
    }
    // An empty "chunks_wave" gives 512 on the waveOut path.
    writeSettingText("USE_DIRECTX", "true");
    writeSettingText("chunks_wave", "");
    ASSERT_EQ(1, openOutput(out, isOpen, nullptr, 44100, 2));
    EXPECT_EQ(1, out.deviceMode);
    EXPECT_EQ(512, out.chunkFrames);
}

TEST_F(OutputStreamTest, OpenAndCloseAreIdempotent) {
    useDirectSound();
    EXPECT_EQ(1, closeOutput(out, isOpen)) << "close without open";
    EXPECT_EQ("", readSettingText("resync_bytes_out learned"));
    ASSERT_EQ(1, openOutput(out, isOpen, nullptr, 44100, 2));
    writeSettingText("USE_DIRECTX", "FALSE");
    EXPECT_EQ(1, openOutput(out, isOpen, nullptr, 22050, 1)) << "second open while open";
    EXPECT_EQ(0, out.deviceMode);
    EXPECT_EQ(44100, out.sampleRate);
    FakeSoundBuffer* secondary = devices.directSound->secondary;
    ASSERT_TRUE(secondary->playing);
    EXPECT_EQ(static_cast<DWORD>(DSBPLAY_LOOPING), secondary->playFlags);
    EXPECT_EQ(1, closeOutput(out, isOpen));
    EXPECT_EQ(1, closeOutput(out, isOpen));
    EXPECT_FALSE(secondary->playing);
    EXPECT_EQ(1u, secondary->count.refs()) << "only the fake's own reference is left";
    EXPECT_EQ(1u, devices.directSound->count.refs());
    EXPECT_EQ(nullptr, out.pWriteBuffer);
    EXPECT_EQ(nullptr, out.conversion);
}

// The first chunk goes to the device's write cursor (the device played on
// while the run started) plus the latency offset, converted and clamped.
TEST_F(OutputStreamTest, FirstChunkGoesToTheWriteCursorConvertedAndClamped) {
    useDirectSound();
    writeSettingText("out lat ms", "10");
    ASSERT_EQ(1, openOutput(out, isOpen, nullptr, 44100, 2));
    FakeRing& ring = devices.directSound->secondary->ring;
    ring.playCursor = 90000;
    ring.writeCursor = 100000;
    const float samples[] = {1.0f, -1.0f, 2.0f, 0.5f, -2.0f, 0.0f};
    EXPECT_EQ(3, writeOutput(out, samples, 3));
    const short expected[] = {32766, -32765, 32766, 16383, -32765, 0};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(expected[k], ringSample(100000 + 1764 + 2 * k)) << k;
    EXPECT_EQ(100000 + 1764 + 12, out.writePositionBytes);
}

TEST_F(OutputStreamTest, LockThatWrapsFillsBothRegionsAndWrapsThePosition) {
    useDirectSound();
    ASSERT_EQ(1, openOutput(out, isOpen, nullptr, 44100, 2));
    devices.directSound->secondary->ring.writeCursor = out.ringBytes - 8;  // room for two frames before the end
    std::vector<float> samples(10);
    for (int k = 0; k < 10; ++k) samples[k] = (k + 1) / 32767.0f;
    EXPECT_EQ(5, writeOutput(out, samples.data(), 5));
    for (int k = 0; k < 4; ++k) EXPECT_EQ(k + 1, ringSample(out.ringBytes - 8 + 2 * k));
    for (int k = 4; k < 10; ++k) EXPECT_EQ(k + 1, ringSample(2 * (k - 4)));
    EXPECT_EQ(12, out.writePositionBytes);
}

TEST_F(OutputStreamTest, FailedLockOrMissingBufferDropsTheChunk) {
    useDirectSound();
    ASSERT_EQ(1, openOutput(out, isOpen, nullptr, 44100, 2));
    devices.directSound->secondary->ring.lockFails = true;
    devices.directSound->secondary->ring.writeCursor = 100;
    const float samples[8] = {0.5f};
    EXPECT_EQ(4, writeOutput(out, samples, 4));
    EXPECT_EQ(100, out.writePositionBytes);
    closeOutput(out, isOpen);

    // Without a secondary buffer the output still opens and drops every chunk.
    devices.directSound->secondaryFails = true;
    MessageBoxRecorder boxes;
    ASSERT_EQ(1, openOutput(out, isOpen, nullptr, 44100, 2));
    EXPECT_EQ(nullptr, out.pWriteBuffer);
    EXPECT_EQ(4, writeOutput(out, samples, 4));
    EXPECT_TRUE(boxes.calls().empty());
}

// Once per resync period the write position moves to the write cursor plus
// the latency offset (wrapped into the ring, whatever the offset's size or
// sign) unless it lies within a quarter ring ahead of that target.
TEST_F(OutputStreamTest, ResyncMovesThePositionOnlyOutsideItsWindow) {
    useDirectSound();
    const int quarter = 529200 / 4;
    struct Case {
        const char* latencyMs;
        DWORD primaryBytes;  // the primary buffer as the ring, or the secondary of 529200 bytes
        DWORD writeCursor;
        int position, expected;
    } cases[] = {
        {"10", 0, 529100, 300000, 1664},                    // far behind (the target wraps to 1664): moved
        {"10", 0, 529100, 1660, 1664},                      // just behind the target: moved
        {"10", 0, 529100, 1664, 1664},                      // at the target
        {"10", 0, 529100, 1664 + quarter, 1664 + quarter},  // a quarter ahead exactly
        {"10", 0, 529100, 1664 + quarter + 4, 1664},        // a frame more
        {"500", 32768, 30000, 0, (30000 + 88200) % 32768},
        {"3000", 32768, 100, 0, (100 + 529200) % 32768},
        {"-400", 32768, 20000, 0, 20000 - 70560 + 2 * 32768},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.latencyMs << " ms, position " << c.position);
        writeSettingText("out lat ms", c.latencyMs);
        writeSettingFlag("PRIMARY", c.primaryBytes != 0);
        if (c.primaryBytes) devices.directSound->primaryBytes = c.primaryBytes;
        ASSERT_EQ(1, openOutput(out, isOpen, nullptr, 44100, 2));
        FakeSoundBuffer* ring = c.primaryBytes ? devices.directSound->primaryBuffer : devices.directSound->secondary;
        ring->ring.writeCursor = c.writeCursor;
        out.writePositionBytes = c.position;
        out.framesSinceCheck = 0;
        resyncOutput(out, out.resyncPeriodFrames - 1);
        EXPECT_EQ(c.position, out.writePositionBytes) << "no check before the period is full";
        resyncOutput(out, 1);
        EXPECT_EQ(c.expected, out.writePositionBytes);
        EXPECT_EQ(0, out.framesSinceCheck);
        closeOutput(out, isOpen);
    }
}

TEST_F(OutputStreamTest, UnderrunPlaysSilenceNotOldAudio) {
    useDirectSound();
    ASSERT_EQ(1, openOutput(out, isOpen, nullptr, 44100, 2));
    FakeRing& ring = devices.directSound->secondary->ring;
    std::vector<float> chunk(2 * 512, 0.25f);
    for (int i = 0; i < 6; ++i) {
        writeOutput(out, chunk.data(), 512);
        ring.playCursor += 1024;
        ring.writeCursor += 1024;
    }
    // Played audio is cleared behind the play cursor: what the device finds
    // when it overtakes the write position a lap later is silence.
    writeOutput(out, chunk.data(), 512);
    for (int k = 0; k < 6144; k += 2) ASSERT_EQ(0, ringSample(k)) << k;
    for (int k = 6144; k < 14336; k += 2) ASSERT_EQ(8191, ringSample(k)) << "not yet played: " << k;
}

class WaveOutTest : public OutputStreamTest {
protected:
    void queueHeaders(int count) {
        for (int i = 0; i < count; ++i) out.headers[i].dwFlags &= ~WHDR_DONE;
    }
    std::vector<float> chunk(int samples, float value) { return std::vector<float>(samples, value); }
};

TEST_F(WaveOutTest, FadesOutAndCutsWhileTheQueueIsLong) {
    useWaveOut(512);
    ASSERT_EQ(1, openOutput(out, isOpen, nullptr, 44100, 2));
    EXPECT_EQ(static_cast<UINT>(WAVE_MAPPER), devices.waveOut.deviceId);
    EXPECT_EQ(static_cast<DWORD>(CALLBACK_NULL), devices.waveOut.openFlags);
    EXPECT_EQ(32, devices.waveOut.prepared);
    out.fadeGain = 1.0f;
    queueHeaders(9);
    resetStreamStatistics();
    std::vector<float> loud = chunk(1024, 0.5f);
    EXPECT_EQ(0, writeOutput(out, loud.data(), 512));
    ASSERT_EQ(1u, devices.waveOut.written.size());
    const std::vector<short>& cut = devices.waveOut.written[0];
    ASSERT_EQ(512u, cut.size()) << "cut after a whole frame";
    EXPECT_EQ(16383, cut[0]);
    EXPECT_GT(cut[50], 8000);
    EXPECT_LT(cut[50], 8400);
    EXPECT_GT(cut[99], 0) << "100 samples faded";
    for (int k = 100; k < 512; ++k) ASSERT_EQ(0, cut[k]) << k;
    EXPECT_EQ(31u, devices.waveOut.queue.back()->dwUser) << "the highest free header";

    EXPECT_EQ(0, writeOutput(out, loud.data(), 512));
    const std::vector<short>& silent = devices.waveOut.written[1];
    ASSERT_EQ(512u, silent.size()) << "still more than 8 queued: silence, cut again";
    for (short s : silent) ASSERT_EQ(0, s);

    // The queue drains to 8 (our two chunks plus six): the next chunk fades in.
    for (int i = 0; i < 9; ++i) out.headers[i].dwFlags |= WHDR_DONE;
    queueHeaders(6);
    EXPECT_EQ(0, writeOutput(out, loud.data(), 512));
    const std::vector<short>& rising = devices.waveOut.written[2];
    ASSERT_EQ(1024u, rising.size());
    EXPECT_EQ(0, rising[0]);
    EXPECT_LT(rising[99], 16383);
    EXPECT_GT(rising[99], 16000);
    for (int k = 100; k < 1024; ++k) ASSERT_EQ(16383, rising[k]) << k;
    EXPECT_EQ(1.0f, out.fadeGain);
    EXPECT_EQ(2, streamStatistics().fadedCuts);
}

// The queue limit follows what the device holds. A device that hands back
// `burst` headers whenever it holds `hold` of them: the limit is 8 on a short
// device, else hold or twice the burst (at most 24); once it is known, a
// device that holds more than 8 no longer has its chunks cut.
TEST_F(WaveOutTest, QueueLimitFollowsWhatTheDeviceHolds) {
    useWaveOut(256);
    struct Case {
        int hold, burst, limit;
        bool cutsOnceKnown;
    } cases[] = {{2, 1, 8, false}, {12, 1, 12, false}, {10, 7, 14, false}, {30, 1, 24, true}};
    std::vector<float> samples = chunk(512, 0.25f);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hold * 100 + c.burst);
        resetStreamStatistics();
        ASSERT_EQ(1, openOutput(out, isOpen, nullptr, 44100, 2));
        EXPECT_EQ(8, streamStatistics().waveOutQueueLimit) << "the limit a run starts with";
        int64_t cutsBefore = 0;
        for (int write = 0; write < 120; ++write) {
            if (static_cast<int>(devices.waveOut.queue.size()) >= c.hold)
                for (int k = 0; k < c.burst; ++k) devices.completeOutput();
            if (write == 60) cutsBefore = streamStatistics().fadedCuts;
            writeOutput(out, samples.data(), 256);
        }
        EXPECT_EQ(c.limit, streamStatistics().waveOutQueueLimit);
        EXPECT_EQ(c.cutsOnceKnown, streamStatistics().fadedCuts > cutsBefore);
        EXPECT_EQ(0, streamStatistics().chunksDropped);
        closeOutput(out, isOpen);
    }
    // The short device's limit is the one a stalled queue meets: 9 queued fade.
    ASSERT_EQ(1, openOutput(out, isOpen, nullptr, 44100, 2));
    for (int write = 0; write < 4; ++write) {
        devices.completeOutput();
        writeOutput(out, samples.data(), 256);
    }
    resetStreamStatistics();
    for (int write = 0; write < 9; ++write) writeOutput(out, samples.data(), 256);
    EXPECT_EQ(1, streamStatistics().fadedCuts);
}

TEST_F(WaveOutTest, FullQueueDropsChunksUntilAHeaderComesBack) {
    useWaveOut(256);
    ASSERT_EQ(1, openOutput(out, isOpen, nullptr, 44100, 1));
    resetStreamStatistics();
    std::vector<float> samples = chunk(256, 0.25f);
    for (int i = 0; i < 40; ++i) writeOutput(out, samples.data(), 256);
    EXPECT_EQ(32u, devices.waveOut.written.size()) << "eight more chunks found no free header";
    EXPECT_EQ(32, streamStatistics().chunksPlayed);
    EXPECT_EQ(8, streamStatistics().chunksDropped);
    ASSERT_TRUE(devices.completeOutput());
    writeOutput(out, samples.data(), 256);
    EXPECT_EQ(33u, devices.waveOut.written.size());
    closeOutput(out, isOpen);
    EXPECT_EQ("reset", devices.waveOut.calls[devices.waveOut.calls.size() - 34]);
    EXPECT_EQ("close", devices.waveOut.calls.back());
    EXPECT_EQ(0, devices.waveOut.prepared);
}

TEST_F(WaveOutTest, UpsamplingDoublesRateAndSamples) {
    writeSettingInt("chunks_wave", 256);
    writeSettingInt("WAVE_OUT_DEVICE", 3);
    ASSERT_EQ(1, openOutput(out, isOpen, nullptr, 44100, 2));
    EXPECT_EQ(2u, devices.waveOut.deviceId);
    EXPECT_EQ(88200u, devices.waveOut.format.nSamplesPerSec);
    EXPECT_EQ(352800u, devices.waveOut.format.nAvgBytesPerSec);
    out.fadeGain = 1.0f;
    // Left constant 0.5, right constant -0.5: after the filter settles both
    // outputs of a frame are half the input (zero stuffing, no gain).
    std::vector<float> samples(512);
    for (int f = 0; f < 256; ++f) {
        samples[2 * f] = 0.5f;
        samples[2 * f + 1] = -0.5f;
    }
    writeOutput(out, samples.data(), 256);
    writeOutput(out, samples.data(), 256);
    const std::vector<short>& doubled = devices.waveOut.written[1];
    ASSERT_EQ(1024u, doubled.size());
    for (int k = 1000; k < 1024; k += 2) {
        EXPECT_NEAR(8191, doubled[k], 2) << k;
        EXPECT_NEAR(-8191, doubled[k + 1], 2) << k;
    }
}

TEST_F(OutputStreamTest, RecordingHoldsEveryChunkWritten) {
    writeSettingText("DISK_OUTPUT_DIRECTORY", tempDir().c_str());
    writeSettingText("SAVE_OUTPUT", "TRUE");
    for (bool directSound : {true, false}) {
        SCOPED_TRACE(directSound);
        writeSettingText("USE_DIRECTX", directSound ? "TRUE" : "FALSE");
        ASSERT_EQ(1, openOutput(out, isOpen, nullptr, 44100, 2));
        std::vector<float> samples(600, 0.5f);
        for (int i = 0; i < 3; ++i) writeOutput(out, samples.data(), 300);
        closeOutput(out, isOpen);
        std::vector<unsigned char> file = readFileBytes(tempPath("Harnwick Output Signal.wav"));
        ASSERT_EQ(44u + 3600u, file.size());
        uint32_t dataBytes;
        memcpy(&dataBytes, file.data() + 40, 4);
        EXPECT_EQ(3600u, dataBytes);
        short first;
        memcpy(&first, file.data() + 44, 2);
        EXPECT_EQ(16383, first) << "the processed signal, without the waveOut fade";
    }
}

TEST_F(OutputStreamTest, FailureMessages) {
    {
        SCOPED_TRACE("no DirectSound device at the stored position");
        useDirectSound();
        writeSettingInt("DX_OUT_DEVICE", 99);
        MessageBoxRecorder boxes;
        EXPECT_EQ(0, openOutput(out, isOpen, nullptr, 44100, 2));
        EXPECT_EQ(0, isOpen);
        ASSERT_EQ(1u, boxes.calls().size());
        EXPECT_EQ("No suitable OUTPUT device could be found.\nLive playback cannot be started.", boxes.calls()[0].text);
        EXPECT_EQ("Harnwick Live", boxes.calls()[0].caption);
        EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONERROR), boxes.calls()[0].flags);
        writeSettingInt("DX_OUT_DEVICE", 0);
    }
    {
        SCOPED_TRACE("DirectSoundCreate or the primary buffer fails: no message");
        MessageBoxRecorder boxes;
        devices.createResult = DSERR_NODRIVER;
        EXPECT_EQ(0, openOutput(out, isOpen, nullptr, 44100, 2));
        devices.createResult = DS_OK;
        devices.directSound->primaryFails = true;
        EXPECT_EQ(0, openOutput(out, isOpen, nullptr, 44100, 2));
        EXPECT_EQ(1u, devices.directSound->secondary->count.refs()) << "secondary released";
        EXPECT_EQ(1u, devices.directSound->count.refs());
        EXPECT_TRUE(boxes.calls().empty());
        devices.directSound->primaryFails = false;
    }
    {
        SCOPED_TRACE("waveOut open and write errors carry the system's text");
        writeSettingText("USE_DIRECTX", "FALSE");
        devices.waveOut.openResult = MMSYSERR_ALLOCATED;
        MessageBoxRecorder boxes;
        EXPECT_EQ(0, openOutput(out, isOpen, nullptr, 44100, 2));
        devices.waveOut.openResult = MMSYSERR_NOERROR;
        ASSERT_EQ(1, openOutput(out, isOpen, nullptr, 44100, 2));
        devices.waveOut.writeResult = MMSYSERR_NOMEM;
        const float samples[4] = {};
        writeOutput(out, samples, 2);
        writeOutput(out, samples, 2);
        ASSERT_EQ(1u, boxes.calls().size()) << "no box from the writing thread";
        showStreamError();  // the dialog's thread at STOP: once per run
        showStreamError();
        ASSERT_EQ(2u, boxes.calls().size());
        EXPECT_EQ("While using the soundcard for playing,\nthe device reported the following error code:\n\n"
                  "'fake error 4'",
                  boxes.calls()[0].text);
        EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONERROR), boxes.calls()[0].flags);
        EXPECT_EQ(nullptr, boxes.calls()[0].owner);
        EXPECT_NE(std::string::npos, boxes.calls()[1].text.find("'fake error 7'"));
        closeOutput(out, isOpen);
    }
}

TEST_F(OutputStreamTest, AcceleratedOutputQuestion) {
    useDirectSound();
    writeSettingText("PRIMARY", "TRUE");
    const char* question =
        "The mode was set to 'Accelerated output', but the soundcard could not handle that.\n"
        "Do you wish to reset the mode to 'Non-accelerated' ?";
    HWND owner = reinterpret_cast<HWND>(0x1234);
    struct Case {
        int answer;
        int opened;
        const char* storedAfter;
    } cases[] = {{IDYES, 1, "FALSE"}, {IDNO, 1, "TRUE"}, {IDCANCEL, 0, "TRUE"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        writeSettingText("PRIMARY", "TRUE");
        devices.directSound->emulated = true;
        devices.directSound->cooperativeLevels.clear();
        MessageBoxRecorder boxes;
        boxes.answer(c.answer);
        EXPECT_EQ(c.opened, openOutput(out, isOpen, owner, 44100, 2));
        ASSERT_EQ(1u, boxes.calls().size());
        EXPECT_EQ(question, boxes.calls()[0].text);
        EXPECT_EQ(owner, boxes.calls()[0].owner);
        EXPECT_EQ(static_cast<UINT>(MB_YESNOCANCEL | MB_ICONINFORMATION), boxes.calls()[0].flags);
        EXPECT_EQ(c.storedAfter, readSettingText("PRIMARY"));
        if (c.opened) {
            ASSERT_EQ(1u, devices.directSound->cooperativeLevels.size()) << "no write-primary attempt when emulated";
            EXPECT_EQ(static_cast<DWORD>(DSSCL_EXCLUSIVE), devices.directSound->cooperativeLevels[0]);
            EXPECT_EQ(out.pSecondary, out.pWriteBuffer);
        } else {
            EXPECT_TRUE(devices.directSound->cooperativeLevels.empty());
            EXPECT_EQ(nullptr, out.pDirectSound);
            EXPECT_EQ(1u, devices.directSound->count.refs());
        }
        closeOutput(out, isOpen);
    }

    // A device that takes write-primary access: the primary buffer is the ring.
    devices.directSound->emulated = false;
    devices.directSound->primaryBytes = 32768;
    MessageBoxRecorder boxes;
    ASSERT_EQ(1, openOutput(out, isOpen, nullptr, 44100, 2));
    EXPECT_TRUE(boxes.calls().empty());
    EXPECT_EQ(out.pPrimary, out.pWriteBuffer);
    EXPECT_EQ(nullptr, out.pSecondary);
    EXPECT_EQ(32768, out.ringBytes);
    closeOutput(out, isOpen);

    // Refused write-primary access asks too.
    devices.directSound->writePrimaryRefused = true;
    boxes.answer(IDNO);
    ASSERT_EQ(1, openOutput(out, isOpen, nullptr, 44100, 2));
    ASSERT_EQ(1u, boxes.calls().size());
    EXPECT_EQ(question, boxes.calls()[0].text);
}

}  // namespace
