// The output stream against fake devices: the DirectSound write and its resync, the waveOut fade and cut,
// and the failure messages. Formats, gain and the takes of a plain loop are the loopback tests' part.
#include <cstring>
#include <vector>

#include "engine/outputstream.h"
#include "fakedevices.h"
#include "settings/settings.h"
#include "support/testenv.h"

namespace {

class OutputStreamTest : public HarnwickTest {
protected:
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
    FakeRing& ring() { return devices.directSound->secondary->ring; }
    void write(int frames, float value = 0.25f) {
        std::vector<float> samples(2 * frames, value);
        writeOutput(out, samples.data(), frames);
    }

    FakeDevices devices;
    OutputStream out;
    int isOpen = 0;
};

class DirectSoundTest : public OutputStreamTest {
protected:
    void SetUp() override {
        OutputStreamTest::SetUp();
        writeSettingText("USE_DIRECTX", "TRUE");
    }
};

// The ring holds three seconds; the latency offset, of either sign, is kept as learned at close.
TEST_F(DirectSoundTest, SizesFromSettings) {
    struct Case {
        int rate, channels;
        const char* latencyMs;
        int ringBytes, latencyBytes;
    } cases[] = {{44100, 2, "10", 529200, 1764}, {44100, 1, "", 264600, 0}, {11025, 1, "-3", 66148, -68}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        writeSettingText("out lat ms", c.latencyMs);
        ASSERT_EQ(1, openOutput(out, isOpen, nullptr, c.rate, c.channels));
        EXPECT_EQ(c.ringBytes, out.ringBytes);
        EXPECT_EQ(c.latencyBytes, out.latencyOffsetBytes);
        EXPECT_EQ(1, closeOutput(out, isOpen));
        EXPECT_EQ(c.latencyBytes, readSettingInt("resync_bytes_out learned"));
    }
}

TEST_F(DirectSoundTest, OpenAndCloseAreIdempotent) {
    EXPECT_EQ(1, closeOutput(out, isOpen)) << "close without open";
    ASSERT_EQ(1, openOutput(out, isOpen, nullptr, 44100, 2));
    FakeSoundBuffer* secondary = devices.directSound->secondary;
    ASSERT_TRUE(secondary->playing) << "looping";
    EXPECT_EQ(1, closeOutput(out, isOpen));
    EXPECT_EQ(0, isOpen);
    EXPECT_FALSE(secondary->playing);
    EXPECT_EQ(1u, secondary->refs()) << "only the fake's own reference is left";
    EXPECT_EQ(1u, devices.directSound->refs());
}

// The first chunk goes to the write cursor (the device played on while the run started) plus the latency
// offset, converted and clamped; a lock that wraps fills both regions and wraps the position.
TEST_F(DirectSoundTest, WritesGoToTheWriteCursorConvertedAndClamped) {
    writeSettingText("out lat ms", "10");
    ASSERT_EQ(1, openOutput(out, isOpen, nullptr, 44100, 2));
    ring().playCursor = 90000;
    ring().writeCursor = 100000;
    const float samples[] = {1.0f, -1.0f, 2.0f, 0.5f, -2.0f, 0.0f};
    EXPECT_EQ(3, writeOutput(out, samples, 3));
    const short expected[] = {32766, -32765, 32766, 16383, -32765, 0};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(expected[k], ringSample(100000 + 1764 + 2 * k)) << k;
    EXPECT_EQ(100000 + 1764 + 12, out.writePositionBytes);

    closeOutput(out, isOpen);
    writeSettingText("out lat ms", "");
    ASSERT_EQ(1, openOutput(out, isOpen, nullptr, 44100, 2));
    ring().writeCursor = out.ringBytes - 8;  // room for two frames before the end
    std::vector<float> ramp(10);
    for (int k = 0; k < 10; ++k) ramp[k] = (k + 1) / 32767.0f;
    EXPECT_EQ(5, writeOutput(out, ramp.data(), 5));
    for (int k = 0; k < 4; ++k) EXPECT_EQ(k + 1, ringSample(out.ringBytes - 8 + 2 * k));
    for (int k = 4; k < 10; ++k) EXPECT_EQ(k + 1, ringSample(2 * (k - 4)));
    EXPECT_EQ(12, out.writePositionBytes);
}

TEST_F(DirectSoundTest, MissingBufferDropsTheChunk) {
    devices.directSound->secondaryFails = true;
    MessageBoxRecorder boxes;
    ASSERT_EQ(1, openOutput(out, isOpen, nullptr, 44100, 2)) << "the output still opens";
    EXPECT_EQ(nullptr, out.pWriteBuffer);
    write(4);
    EXPECT_TRUE(boxes.calls().empty());
}

// Once per resync period the position moves to the write cursor plus the latency offset (wrapped into the
// ring, whatever the offset's size or sign) unless it lies within a quarter ring ahead of that target.
TEST_F(DirectSoundTest, ResyncMovesThePositionOnlyOutsideItsWindow) {
    const int quarter = 529200 / 4;
    struct Case {
        const char* latencyMs;
        DWORD primaryBytes;  // the primary buffer as the ring, or the secondary of 529200 bytes
        DWORD writeCursor;
        int position, expected;
    } cases[] = {
        {"10", 0, 529100, 300000, 1664},                    // far behind (the target wraps to 1664): moved
        {"10", 0, 529100, 1660, 1664},                      // just behind the target: moved
        {"10", 0, 529100, 1664 + quarter, 1664 + quarter},  // a quarter ahead exactly
        {"10", 0, 529100, 1664 + quarter + 4, 1664},        // a frame more
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
        closeOutput(out, isOpen);
    }
}

// The first write measures the device: from then on the position may run two
// chunks plus twice the gap between its play and write cursors ahead of the
// target, and lag one gap behind it.
TEST_F(DirectSoundTest, TheWindowFollowsTheChunkAndTheDevicesCursorGap) {
    writeSettingText("chunks", "512");
    ASSERT_EQ(1, openOutput(out, isOpen, nullptr, 44100, 2));
    ring().playCursor = 10000;
    ring().writeCursor = 10000 + 1764;  // 10 ms ahead of the play cursor
    write(512);
    const int window = 2 * 512 * 4 + 2 * 1764;
    EXPECT_EQ(43, streamStatistics().outputWindowMs);
    for (int ahead : {window, window + 4, -1764, -1768}) {
        out.writePositionBytes = 11764 + ahead;
        out.framesSinceCheck = 0;
        resyncOutput(out, out.resyncPeriodFrames);
        EXPECT_EQ(ahead > window || ahead < -1764 ? 11764 : 11764 + ahead, out.writePositionBytes) << ahead;
    }
}

// Played audio is cleared behind the play cursor: what the device finds when
// it overtakes the write position a lap later is silence.
TEST_F(DirectSoundTest, UnderrunPlaysSilenceNotOldAudio) {
    ASSERT_EQ(1, openOutput(out, isOpen, nullptr, 44100, 2));
    for (int i = 0; i < 6; ++i) {
        write(512);
        ring().playCursor += 1024;
        ring().writeCursor += 1024;
    }
    write(512);
    for (int k = 0; k < 6144; k += 2) ASSERT_EQ(0, ringSample(k)) << k;
    for (int k = 6144; k < 14336; k += 2) ASSERT_EQ(8191, ringSample(k)) << "not yet played: " << k;
}

// A short device (one header back per write, two at most) keeps the limit at 8. A queue held above it for
// most of each resync period, but not all, is left alone; held at 12 through a whole period, it is cut
// once: one chunk fades out and is cut, four more are left out (12 - 8 + 1 in all), the next fades in. A
// stalled device meets the fade above the ceiling, before any chunk is dropped.
TEST_F(OutputStreamTest, WaveOutCutsOnlyAQueueThatStoodAboveTheLimit) {
    useWaveOut(512);
    ASSERT_EQ(1, openOutput(out, isOpen, nullptr, 44100, 2));
    const int period = 44100 / 512 + 1;  // writes in one resync period
    auto holdQueueAt = [&](int level, int writes) {  // each write finds `level` queued
        for (int w = 0; w < writes; ++w) {
            for (int back = 0; back < 2 && static_cast<int>(devices.waveOut.queue.size()) > level; ++back)
                devices.completeOutput();
            write(512, 0.5f);
        }
    };
    holdQueueAt(2, period);
    resetStreamStatistics();
    for (int round = 0; round < 3; ++round) {
        holdQueueAt(11, period - 20);
        holdQueueAt(3, 20);
    }
    EXPECT_EQ(0, streamStatistics().fadedCuts) << "a queue that came back within each period";
    EXPECT_EQ(8, out.queueLimit);
    EXPECT_EQ(11, streamStatistics().waveOutMostQueued);

    while (out.framesSinceCheck != 0) holdQueueAt(3, 1);  // the queue rises in the period after a check
    const size_t before = devices.waveOut.written.size();
    int w = 0;
    for (; w < 3 * period && streamStatistics().fadedCuts == 0; ++w) holdQueueAt(12, 1);
    ASSERT_EQ(1, streamStatistics().fadedCuts) << "a queue that stood above the limit";
    const size_t cutAt = before + w - 1;
    ASSERT_EQ(cutAt + 1, devices.waveOut.written.size());
    const std::vector<short>& cut = devices.waveOut.written[cutAt];
    ASSERT_EQ(512u, cut.size()) << "cut just past the middle, after a whole frame";
    EXPECT_EQ(16383, cut[0]);
    EXPECT_NEAR(8200, cut[50], 200);
    for (int k = 100; k < 512; ++k) ASSERT_EQ(0, cut[k]) << k;
    holdQueueAt(12, 10);
    EXPECT_EQ(cutAt + 1, devices.waveOut.written.size()) << "ten chunks left out: back to the 2 it stood at";
    holdQueueAt(12, 1);
    const std::vector<short>& rising = devices.waveOut.written.back();
    ASSERT_EQ(1024u, rising.size());
    EXPECT_EQ(0, rising[0]);
    EXPECT_NEAR(16191, rising[99], 191) << "not yet at full gain";
    for (int k = 100; k < 1024; ++k) ASSERT_EQ(16383, rising[k]) << k;
    EXPECT_EQ(1, streamStatistics().fadedCuts);

    // Stalled from the start: nothing comes back. The write that finds 25 queued is cut, none is dropped.
    closeOutput(out, isOpen);
    ASSERT_EQ(1, openOutput(out, isOpen, nullptr, 44100, 2));
    resetStreamStatistics();
    while (devices.waveOut.queue.size() < 25) write(512, 0.5f);
    EXPECT_EQ(0, streamStatistics().fadedCuts);
    write(512, 0.5f);
    EXPECT_EQ(1, streamStatistics().fadedCuts);
    EXPECT_EQ(0, streamStatistics().chunksDropped);
}

// A device that holds three headers and then plays one per write, but stalls one chunk's time at the start of
// every period without a cut (an underrun: each stall leaves one header more standing). A cut takes the queue back
// to the three the device held at the start, so the next cut comes only after as many stalls again; a cut to just
// under the limit was followed by another one after the next stall.
TEST_F(OutputStreamTest, WaveOutCutTakesTheQueueBackToWhereTheRunStarted) {
    useWaveOut(512);
    ASSERT_EQ(1, openOutput(out, isOpen, nullptr, 44100, 2));
    for (int w = 0; w < 3; ++w) write(512);
    resetStreamStatistics();
    std::vector<int> queuedAfterCuts;
    int64_t cuts = 0;
    int stalls = 0;
    for (int w = 0; w < 30 * (44100 / 512 + 1); ++w) {
        const bool stall = out.framesSinceCheck == 0 && out.chunksToTrim == 0;
        if (stall)
            ++stalls;
        else
            devices.completeOutput();
        write(512);
        if (streamStatistics().fadedCuts > cuts) {
            cuts = streamStatistics().fadedCuts;
            queuedAfterCuts.push_back(-1);
        }
        if (!queuedAfterCuts.empty() && queuedAfterCuts.back() < 0 && out.chunksToTrim == 0)
            queuedAfterCuts.back() = static_cast<int>(devices.waveOut.queue.size());
    }
    EXPECT_EQ(8, out.queueLimit);
    ASSERT_GE(queuedAfterCuts.size(), 2u);
    for (int queued : queuedAfterCuts) EXPECT_EQ(3, queued);
    EXPECT_LE(cuts * 7, stalls) << "a cut every seven stalls at most";
    EXPECT_EQ(0, streamStatistics().chunksDropped);
}

// A device that hands back `burst` headers whenever it holds `hold`: the queue limit is 8 on a short device,
// else hold plus twice the burst (at most 24); once known, a device holding more than 8 is no longer cut.
TEST_F(OutputStreamTest, WaveOutQueueLimitFollowsWhatTheDeviceHolds) {
    useWaveOut(256);
    struct Case {
        int hold, burst, limit;
        bool cutsOnceKnown;
    } cases[] = {{2, 1, 8, false}, {12, 1, 14, false}, {6, 3, 12, false}, {10, 7, 24, false}, {30, 1, 24, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hold * 100 + c.burst);
        resetStreamStatistics();
        ASSERT_EQ(1, openOutput(out, isOpen, nullptr, 44100, 2));
        EXPECT_EQ(8, streamStatistics().waveOutQueueLimit) << "the limit a run starts with";
        int64_t cutsBefore = 0;
        for (int w = 0; w < 120; ++w) {
            if (static_cast<int>(devices.waveOut.queue.size()) >= c.hold)
                for (int k = 0; k < c.burst; ++k) devices.completeOutput();
            if (w == 60) cutsBefore = streamStatistics().fadedCuts;
            write(256);
        }
        EXPECT_EQ(c.limit, streamStatistics().waveOutQueueLimit);
        EXPECT_EQ(c.cutsOnceKnown, streamStatistics().fadedCuts > cutsBefore);
        EXPECT_EQ(0, streamStatistics().chunksDropped);
        closeOutput(out, isOpen);
    }
}

TEST_F(OutputStreamTest, WaveOutFullQueueDropsChunksUntilAHeaderComesBack) {
    useWaveOut(256);
    ASSERT_EQ(1, openOutput(out, isOpen, nullptr, 44100, 1));
    resetStreamStatistics();
    for (int i = 0; i < 40; ++i) write(256);
    EXPECT_EQ(32u, devices.waveOut.written.size()) << "eight more chunks found no free header";
    EXPECT_EQ(32, streamStatistics().chunksPlayed);
    EXPECT_EQ(8, streamStatistics().chunksDropped);
    ASSERT_TRUE(devices.completeOutput());
    write(256);
    EXPECT_EQ(33u, devices.waveOut.written.size());
    closeOutput(out, isOpen);
    EXPECT_FALSE(devices.waveOut.open);
    EXPECT_EQ(0, devices.waveOut.prepared) << "reset before unprepare: no header is left queued";
}

TEST_F(OutputStreamTest, FailureMessages) {
    MessageBoxRecorder boxes;
    writeSettingText("USE_DIRECTX", "TRUE");
    writeSettingInt("DX_OUT_DEVICE", 99);
    EXPECT_EQ(0, openOutput(out, isOpen, nullptr, 44100, 2));
    EXPECT_EQ(0, isOpen);
    writeSettingInt("DX_OUT_DEVICE", 0);
    devices.createResult = DSERR_NODRIVER;  // no message for a failed creation or primary buffer
    EXPECT_EQ(0, openOutput(out, isOpen, nullptr, 44100, 2));
    devices.createResult = DS_OK;
    devices.directSound->primaryFails = true;
    EXPECT_EQ(0, openOutput(out, isOpen, nullptr, 44100, 2));
    EXPECT_EQ(1u, devices.directSound->secondary->refs()) << "secondary released";
    EXPECT_EQ(1u, devices.directSound->refs());

    writeSettingText("USE_DIRECTX", "FALSE");
    devices.waveOut.openResult = MMSYSERR_ALLOCATED;
    EXPECT_EQ(0, openOutput(out, isOpen, nullptr, 44100, 2));
    devices.waveOut.openResult = MMSYSERR_NOERROR;
    ASSERT_EQ(1, openOutput(out, isOpen, nullptr, 44100, 2));
    devices.waveOut.writeResult = MMSYSERR_NOMEM;
    write(2);
    write(2);
    ASSERT_EQ(2u, boxes.calls().size()) << "no box from the writing thread";
    showStreamError();  // the dialog's thread at STOP: once per run
    showStreamError();
    const char* expected[] = {"No suitable OUTPUT device could be found.\nLive playback cannot be started.",
                              "While using the soundcard for playing,\nthe device reported the following error code:"
                              "\n\n'fake error 4'",
                              "While using the soundcard for playing,\nthe device reported the following error code:"
                              "\n\n'fake error 7'"};
    ASSERT_EQ(3u, boxes.calls().size());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(expected[i], boxes.calls()[i].text);
    EXPECT_EQ(nullptr, boxes.calls()[1].owner);
}

// A device that cannot take accelerated output asks whether to reset the mode: Yes stores the change, No
// keeps it for this run, Cancel does not run.
TEST_F(DirectSoundTest, AcceleratedOutputQuestion) {
    const char* question =
        "The mode was set to 'Accelerated output', but the soundcard could not handle that.\n"
        "Do you wish to reset the mode to 'Non-accelerated' ?";
    HWND owner = reinterpret_cast<HWND>(0x1234);
    struct Case {
        bool emulated, refused;
        int answer, opened;
        const char* storedAfter;
    } cases[] = {{true, false, IDYES, 1, "FALSE"},
                 {true, false, IDNO, 1, "TRUE"},
                 {true, false, IDCANCEL, 0, "TRUE"},
                 {false, true, IDNO, 1, "TRUE"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        writeSettingText("PRIMARY", "TRUE");
        devices.directSound->emulated = c.emulated;
        devices.directSound->writePrimaryRefused = c.refused;
        MessageBoxRecorder boxes;
        boxes.answer(c.answer);
        EXPECT_EQ(c.opened, openOutput(out, isOpen, owner, 44100, 2));
        ASSERT_EQ(1u, boxes.calls().size());
        EXPECT_EQ(question, boxes.calls()[0].text);
        EXPECT_EQ(owner, boxes.calls()[0].owner);
        EXPECT_EQ(c.storedAfter, readSettingText("PRIMARY"));
        EXPECT_EQ(c.opened ? out.pSecondary : nullptr, out.pWriteBuffer);
        EXPECT_EQ(1u + c.opened, devices.directSound->refs()) << "held while open, released on Cancel";
        closeOutput(out, isOpen);
    }
}

}  // namespace
