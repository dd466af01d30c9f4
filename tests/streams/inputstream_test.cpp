// The input stream against fake devices: the waveIn and DirectSoundCapture reads and their resync,
// and the failure messages. Formats and the plain loop are the loopback tests' part.
#include <cstring>
#include <vector>

#include "audio/audio.h"
#include "fakedevices.h"
#include "input/inputstream.h"
#include "settings/settings.h"
#include "support/testenv.h"

namespace {

float bitsToFloat(uint32_t bits) {
    float f;
    memcpy(&f, &bits, 4);
    return f;
}
const float kWaveInScale = bitsToFloat(0x37FE3343u);
const float kCaptureScale = bitsToFloat(0x38000100u);

class InputStreamTest : public HarnwickTest {
protected:
    void SetUp() override {
        HarnwickTest::SetUp();
        InitializeCriticalSection(&lock);
        in.lock = &lock;
    }
    void TearDown() override {
        closeInput(in);
        DeleteCriticalSection(&lock);
        HarnwickTest::TearDown();
    }
    int queued() const { return static_cast<int>(devices.waveIn.queue.size()); }
    // Past the start-up, as if the reads had gone on all the while.
    void endStartUp() {
        in.firstRead = 0;
        in.startUpEndTick = in.lastReadEndTick = GetTickCount();
    }
    float read() {
        readInput(in, destination.data(), 512);
        return destination[0];
    }
    void complete(short value) {
        std::vector<short> samples(1024, value);
        devices.completeInput(2048, &samples);
    }

    FakeDevices devices;
    CRITICAL_SECTION lock;
    InputStream in;
    std::vector<float> destination = std::vector<float>(2 * 8192, -7.0f);
};

TEST_F(InputStreamTest, ChunkSizesAndResyncPeriodFromSettings) {
    struct Case {
        const char *directX, *chunks, *chunksWave, *resync;
        int rate;
        int legacy, chunkFrames, periodFrames;
    } cases[] = {
        {"", "", "9", "0", 44100, 1, 512, 44100},
        {"", "", "10", "-3", 44100, 1, 10, 44100},
        {"", "", "8192", "", 44100, 1, 8192, 44100},
        {"", "", "8193", "5", 48000, 1, 512, 240000},
        {"true", "128", "100", "", 44100, 1, 100, 44100},  // lower case selects waveIn
        {"TRUE", "", "100", "", 44100, 0, 1024, 44100},
        {"TRUE", "128", "", "2", 44100, 0, 128, 88200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.chunksWave) + "/" + c.chunks);
        writeSettingText("USE_DIRECTX", c.directX);
        writeSettingText("chunks", c.chunks);
        writeSettingText("chunks_wave", c.chunksWave);
        writeSettingText("resync second", c.resync);
        ASSERT_EQ(1, openInput(in, nullptr, c.rate, 2));
        EXPECT_EQ(c.legacy, in.legacy);
        EXPECT_EQ(c.chunkFrames, in.chunkFrames);
        EXPECT_EQ(c.periodFrames, in.resyncPeriodFrames);
        EXPECT_EQ(1, closeInput(in));
    }
}

TEST_F(InputStreamTest, WaveInOpenAndClose) {
    advanceSampleClock(768);
    ASSERT_EQ(1, openInput(in, nullptr, 44100, 2));
    EXPECT_EQ(0, sampleClock()) << "each run's sample times start at 0";
    EXPECT_EQ(static_cast<UINT>(WAVE_MAPPER), devices.waveIn.deviceId);
    EXPECT_EQ(88200u, devices.waveIn.format.nSamplesPerSec);
    EXPECT_EQ(8, devices.waveIn.prepared);
    EXPECT_TRUE(devices.waveIn.started);
    EXPECT_EQ(0, queued()) << "no buffer is handed over at open";
    EXPECT_EQ(1, closeInput(in));
    EXPECT_FALSE(devices.waveIn.open);

    writeSettingText("DONT RESAMPLE", "TRUE");
    writeSettingInt("WAVE_IN_DEVICE", 3);
    ASSERT_EQ(1, openInput(in, nullptr, 44100, 2));
    EXPECT_EQ(2u, devices.waveIn.deviceId);
    EXPECT_EQ(44100u, devices.waveIn.format.nSamplesPerSec);
}

TEST_F(InputStreamTest, WaveInReadQueuesConvertsAndRecords) {
    writeSettingText("DONT RESAMPLE", "TRUE");
    writeSettingText("DISK_OUTPUT_DIRECTORY", tempDir().c_str());
    writeSettingText("SAVE_INPUT", "TRUE");
    ASSERT_EQ(1, openInput(in, nullptr, 44100, 2));
    // First read: nothing queued, so after its wait it queues all eight and delivers silence.
    EXPECT_EQ(512, readInput(in, destination.data(), 512));
    EXPECT_EQ(8, queued());
    for (int k = 0; k < 1024; ++k) ASSERT_EQ(0.0f, destination[k]) << k;
    EXPECT_EQ(-7.0f, destination[1024]) << "nothing past the chunk is touched";

    // 1002 bytes recorded: 500 samples (a multiple of 4) are taken.
    ASSERT_TRUE(devices.completeInput(1002));
    EXPECT_EQ(512, readInput(in, destination.data(), 512));
    for (int k = 0; k < 500; ++k) ASSERT_EQ(static_cast<float>(k) * kWaveInScale, destination[k]) << k;
    for (int k = 500; k < 1024; ++k) ASSERT_EQ(0.0f, destination[k]) << k;
    EXPECT_EQ(8, queued()) << "the buffer went straight back";

    complete(-32768);
    read();
    EXPECT_FLOAT_EQ(-0.9929697f, destination[1023]) << "full-scale negative keeps its sign";
    closeInput(in);
    EXPECT_EQ(44u + 2u * (500 + 1024), readFileBytes(tempPath("Harnwick Input Signal.wav")).size());
}

// 512 device frames at twice the rate, decimated to 256: each channel keeps its slope, a signal at the
// device's Nyquist frequency is removed, and a full-scale square wave whose edges overshoot keeps its sign.
TEST_F(InputStreamTest, WaveInReadDecimatesWhenResampling) {
    ASSERT_EQ(1, openInput(in, nullptr, 44100, 2));
    read();  // queues the buffers
    std::vector<short> ramps(1024), square(1024);
    for (int f = 0; f < 512; ++f) {
        ramps[2 * f] = static_cast<short>(10 * f - 2500);
        ramps[2 * f + 1] = static_cast<short>(1000 - 10 * f);
        square[2 * f] = (f / 33) % 2 ? -32767 : 32767;
        square[2 * f + 1] = f % 2 ? -8000 : 8000;
    }
    ASSERT_TRUE(devices.completeInput(2048, &ramps));
    ASSERT_EQ(256, readInput(in, destination.data(), 512));
    EXPECT_NEAR(2000.0f, (destination[2 * 250] - destination[2 * 150]) / kWaveInScale, 4.0f) << "left";
    EXPECT_NEAR(-2000.0f, (destination[2 * 250 + 1] - destination[2 * 150 + 1]) / kWaveInScale, 4.0f) << "right";

    ASSERT_TRUE(devices.completeInput(2048, &square));
    ASSERT_EQ(256, readInput(in, destination.data(), 512));
    auto signChanges = [](const float* samples, int count) {
        int changes = 0;
        for (int k = 2; k < count * 2; k += 2) changes += (samples[k] < 0) != (samples[k - 2] < 0);
        return changes;
    };
    std::vector<float> input(square.begin(), square.end());
    EXPECT_NEAR(signChanges(input.data(), 512), signChanges(destination.data() + 2 * 16, 240), 1);
    for (int j = 64; j < 256; ++j) ASSERT_NEAR(0.0f, destination[2 * j + 1] / kWaveInScale, 100.0f) << j;
}

TEST_F(InputStreamTest, SampleClockCountsTwelveHoursAtTheHighestRate) {
    ASSERT_EQ(1, openInput(in, nullptr, 44100, 2));
    const int64_t hour = 3600LL * 96000;
    for (int h = 0; h < 12; ++h) advanceSampleClock(static_cast<int>(hour));
    EXPECT_EQ(12 * hour, static_cast<int64_t>(sampleClock()));
}

// The driver gathers audio while nothing is queued and hands it back in bursts once buffers arrive: for a
// short while after the first audio every read drops the backlog beyond one chunk, so that backlog never
// becomes latency. After it, a burst is read in order. A late read (the thread held up for more than half the
// round, 46 ms here, or the driver run dry) starts it again.
TEST_F(InputStreamTest, WaveInStartUpDropsTheBacklogBeyondOneChunk) {
    writeSettingText("DONT RESAMPLE", "TRUE");
    ASSERT_EQ(1, openInput(in, nullptr, 44100, 2));
    read();  // the first read queues everything
    resetStreamStatistics();
    for (short v = 1; v <= 3; ++v) complete(v);
    EXPECT_EQ(2 * kWaveInScale, read()) << "the first audio";
    for (short v = 4; v <= 6; ++v) complete(v);
    EXPECT_EQ(5 * kWaveInScale, read()) << "a burst right after the start";
    EXPECT_EQ(2, streamStatistics().backlogDrops);
    endStartUp();
    complete(7);
    complete(8);
    for (short v = 6; v <= 8; ++v) EXPECT_EQ(v * kWaveInScale, read());
    EXPECT_EQ(8, queued());
    for (short v = 9; v <= 14; ++v) complete(v);
    Sleep(60);
    EXPECT_EQ(13 * kWaveInScale, read()) << "a late read";
    EXPECT_EQ(14 * kWaveInScale, read());
    endStartUp();
    for (short v = 17; v <= 24; ++v) complete(v);
    Sleep(60);
    EXPECT_EQ(0.0f, read()) << "every buffer returned, none read: the driver ran dry";
    EXPECT_EQ(16, in.waveInBufferCount);
    for (short v = 25; v <= 27; ++v) complete(v);
    EXPECT_EQ(26 * kWaveInScale, read()) << "the burst after it";
    EXPECT_EQ(27 * kWaveInScale, read());
}

// A coarse tick count moves in 16 ms steps, so reads of 64-frame chunks can land a step apart: not late.
TEST_F(InputStreamTest, WaveInReadsOneTickStepApartAreNotLate) {
    writeSettingText("DONT RESAMPLE", "TRUE");
    writeSettingInt("chunks_wave", 64);
    ASSERT_EQ(1, openInput(in, nullptr, 44100, 2));
    readInput(in, destination.data(), 64);  // the first read queues everything
    for (short v = 1; v <= 5; ++v) {
        const std::vector<short> samples(128, v);
        devices.completeInput(256, &samples);
        if (v == 3) readInput(in, destination.data(), 64);  // the first audio, 2
    }
    endStartUp();
    in.lastReadEndTick -= 20;
    readInput(in, destination.data(), 64);
    EXPECT_EQ(3 * kWaveInScale, destination[0]);
}

// The driver returns one buffer per 512-frame read. Two returned at once just before the first resync check
// are its burst, read in order. From then on one buffer waits behind every read: that backlog stood through
// the whole period, and the first read past it (the 87th at 44100 Hz; at 51200 Hz the 100th read ends
// exactly on the one-second period and only the 101st passes it) skips it, handing it back to the driver.
TEST_F(InputStreamTest, WaveInSkipsOnlyABacklogThatStoodThroughTheResyncPeriod) {
    writeSettingText("DONT RESAMPLE", "TRUE");
    struct Case {
        int rate, periodReads;
    } cases[] = {{44100, 87}, {51200, 101}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        ASSERT_EQ(1, openInput(in, nullptr, c.rate, 2));
        read();  // the first read queues everything
        short value = 0;
        for (int r = 2; r < c.periodReads; ++r) {
            complete(++value);
            ASSERT_EQ(value * kWaveInScale, read()) << r;
            endStartUp();
        }
        resetStreamStatistics();
        complete(++value);
        complete(++value);
        EXPECT_EQ((value - 1) * kWaveInScale, read()) << "a burst at the check is read in order";
        for (int r = c.periodReads + 1; r < 2 * c.periodReads; ++r) {
            complete(++value);
            ASSERT_EQ((value - 1) * kWaveInScale, read()) << r;
        }
        EXPECT_EQ(0, streamStatistics().backlogDrops);
        complete(++value);
        EXPECT_EQ(value * kWaveInScale, read()) << "the standing backlog is skipped";
        EXPECT_EQ(1, streamStatistics().backlogDrops);
        EXPECT_EQ(8, queued());
        closeInput(in);
    }
}

// A driver returns `burst` buffers at once, five times over. Eight buffers serve a short burst; a longer one
// runs the driver dry once, after which the round has grown and the reader, past the start-up that follows,
// finds every chunk, in order.
TEST_F(InputStreamTest, WaveInRoundGrowsWhenTheDriverRunsDry) {
    writeSettingText("DONT RESAMPLE", "TRUE");
    struct Case {
        int burst, buffers, requeueAlls;
    } cases[] = {{4, 8, 0}, {12, 16, 1}, {40, 32, 5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.burst);
        ASSERT_EQ(1, openInput(in, nullptr, 44100, 2));
        read();  // the first read queues the round
        devices.completeInput(2048);
        read();  // the first audio
        endStartUp();
        resetStreamStatistics();
        short value = 0, expected = 0;
        for (int lap = 0; lap < 5; ++lap) {
            int returned = 0;
            for (std::vector<short> samples; returned < c.burst; ++returned, ++value) {
                samples.assign(1024, static_cast<short>(value + 1));
                if (!devices.completeInput(2048, &samples)) break;
            }
            expected = static_cast<short>(value - returned);
            for (int r = 0; r < returned; ++r) {
                const int64_t captured = streamStatistics().chunksCaptured;
                read();
                if (streamStatistics().chunksCaptured == captured) {  // a gap
                    endStartUp();
                    break;
                }
                ASSERT_EQ(++expected * kWaveInScale, destination[1023]);
            }
        }
        EXPECT_EQ(c.requeueAlls, streamStatistics().requeueAlls);
        EXPECT_EQ(c.buffers, in.waveInBufferCount);
        closeInput(in);
    }
}

class CaptureReadTest : public InputStreamTest {
protected:
    // steady: past the first read, which keeps only the newest chunk.
    void openCapture(int chunkFrames, bool steady = true) {
        writeSettingText("USE_DIRECTX", "TRUE");
        writeSettingInt("chunks", chunkFrames);
        ASSERT_EQ(1, openInput(in, nullptr, 44100, 2));
        if (steady) in.firstRead = 0;
        buffer = devices.capture->buffer;
        ASSERT_NE(nullptr, buffer);
        for (size_t k = 0; k < buffer->ring.bytes.size() / 2; ++k) {
            const short value = static_cast<short>(k % 30000);
            memcpy(buffer->ring.bytes.data() + 2 * k, &value, 2);
        }
    }
    int read(int frames = 128) { return readInput(in, destination.data(), frames); }
    FakeCaptureBuffer* buffer = nullptr;
};

TEST_F(CaptureReadTest, ReadReturnsAChunkOnlyOnceTheDriverIsPastItsEnd) {
    openCapture(128);
    ASSERT_EQ(128u, buffer->positions.size());
    for (int i = 0; i < 128; ++i) ASSERT_EQ(static_cast<DWORD>((i + 1) * 512 - 1), buffer->positions[i].dwOffset);
    buffer->ring.writeCursor = 1024;  // two chunks captured, no notification needed
    EXPECT_EQ(128, read());
    ASSERT_EQ(1u, buffer->ring.locks.size());
    EXPECT_EQ(std::make_pair(DWORD(0), DWORD(512)), buffer->ring.locks[0]);
    for (int k = 0; k < 256; ++k) ASSERT_EQ(k * kCaptureScale, destination[k]) << k;
    EXPECT_EQ(512, in.readOffsetBytes);

    // Stale notifications from an earlier lap release no read of audio not yet captured.
    buffer->ring.writeCursor = 1000;
    for (int i = 0; i < 128; ++i) buffer->signal(i);
    EXPECT_EQ(128, read());
    EXPECT_EQ(1u, buffer->ring.locks.size()) << "nothing locked";
    EXPECT_EQ(0.0f, destination[0]);
    closeInput(in);
    EXPECT_EQ(1u, buffer->refs()) << "buffer and notification released";
    EXPECT_EQ(1u, devices.capture->refs());

    // Chunk bytes that do not divide the buffer: a chunk ending past the last
    // notification is read when captured, and not before.
    openCapture(100);
    ASSERT_EQ(163u, buffer->positions.size());
    in.readOffsetBytes = 64900;
    buffer->ring.writeCursor = 65300;
    EXPECT_EQ(100, read(100));
    EXPECT_EQ(64900u, buffer->ring.locks.at(0).first);
    EXPECT_EQ(65300, in.readOffsetBytes);
    buffer->ring.writeCursor = 65500;
    buffer->signal(81);
    EXPECT_EQ(100, read(100));
    EXPECT_EQ(1u, buffer->ring.locks.size()) << "the chunk up to byte 164 is not captured yet";
    buffer->ring.writeCursor = 164;
    EXPECT_EQ(100, read(100));
    EXPECT_EQ(65300u, buffer->ring.locks.at(1).first);
    EXPECT_EQ(164, in.readOffsetBytes);
}

// A read starts at the read offset while the device is at most a quarter of the buffer ahead; beyond
// that, and on the first read after open (the run took a while to start), with the newest whole chunk.
TEST_F(CaptureReadTest, BacklogBeyondAQuarterAndTheFirstReadKeepOnlyTheNewestChunk) {
    struct Case {
        bool firstRead;
        int readOffset;
        DWORD writeCursor, lockedAt;
        int backlogDrops;
    } cases[] = {
        {false, 512, 512 + 16384, 512, 0},                   // exactly a quarter behind
        {false, 1024, 1024 + 16388, 1024 + 16388 - 512, 1},  // one frame more
        {true, 0, 6002, 6000 - 512, 1},  // a driver position inside a frame: the chunk still starts on one
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.writeCursor);
        openCapture(128, !c.firstRead);
        in.readOffsetBytes = c.readOffset;
        buffer->ring.writeCursor = c.writeCursor;
        resetStreamStatistics();
        EXPECT_EQ(128, read());
        EXPECT_EQ(c.lockedAt, buffer->ring.locks.at(0).first);
        EXPECT_EQ(static_cast<int>(c.lockedAt) + 512, in.readOffsetBytes);
        EXPECT_EQ(c.backlogDrops, streamStatistics().backlogDrops);
        closeInput(in);
    }
}

TEST_F(CaptureReadTest, LockInTwoRegionsAndLockFailure) {
    writeSettingText("DISK_OUTPUT_DIRECTORY", tempDir().c_str());
    writeSettingText("SAVE_INPUT", "TRUE");
    openCapture(128);
    in.readOffsetBytes = 65536 - 300;
    buffer->ring.writeCursor = 212;  // the chunk's end, past the buffer's end
    EXPECT_EQ(128, read());
    for (int k = 0; k < 150; ++k) ASSERT_EQ(((32618 + k) % 30000) * kCaptureScale, destination[k]) << k;
    for (int k = 150; k < 256; ++k) ASSERT_EQ((k - 150) * kCaptureScale, destination[k]) << k;
    EXPECT_EQ(212, in.readOffsetBytes);

    buffer->ring.lockFails = true;
    buffer->ring.writeCursor = 212 + 512;
    EXPECT_EQ(128, read());
    for (int k = 0; k < 256; ++k) ASSERT_EQ(0.0f, destination[k]);
    EXPECT_EQ(212, in.readOffsetBytes);
    closeInput(in);
    EXPECT_EQ(44u + 512u, readFileBytes(tempPath("Harnwick Input Signal.wav")).size()) << "the failed lock records nothing";
}

// The largest chunk whose bytes divide the buffer, with a word to the user;
// a buffer too small for any chunk refuses the run.
TEST_F(CaptureReadTest, ChunkTooLargeForTheCaptureBufferIsCapped) {
    MessageBoxRecorder boxes;
    openCapture(8192);
    EXPECT_EQ(1024, in.chunkFrames);
    EXPECT_EQ(16u, buffer->positions.size());
    ASSERT_EQ(1u, boxes.calls().size());
    EXPECT_EQ("The processing chunk size of 8192 samples is too large for the soundcard's capture buffer.\n"
              "Live input uses 1024 samples per chunk instead.\n\n"
              "Set the DirectSound 'Processing chunk size' in the Settings to 1024 or fewer to keep your own choice.",
              boxes.calls()[0].text);
    closeInput(in);
    devices.capture->grantedBytes = 400;
    writeSettingInt("chunks", 10);
    EXPECT_EQ(0, openInput(in, nullptr, 44100, 2));
    ASSERT_EQ(2u, boxes.calls().size());
    EXPECT_NE(std::string::npos, boxes.calls()[1].text.find("too small for live input"));
    EXPECT_EQ(1u, devices.capture->refs());
}

TEST_F(InputStreamTest, FailureMessages) {
    MessageBoxRecorder boxes;
    writeSettingText("USE_DIRECTX", "TRUE");
    writeSettingInt("DX_IN_DEVICE", 99);
    EXPECT_EQ(0, openInput(in, nullptr, 44100, 2));
    writeSettingInt("DX_IN_DEVICE", 0);
    devices.createResult = E_FAIL;
    EXPECT_EQ(0, openInput(in, nullptr, 44100, 2));
    devices.createResult = DS_OK;
    devices.capture->createResult = DSERR_BADFORMAT;
    EXPECT_EQ(0, openInput(in, nullptr, 44100, 2));
    EXPECT_EQ(1u, devices.capture->refs()) << "capture object released";
    writeSettingText("USE_DIRECTX", "");
    devices.waveIn.openResult = MMSYSERR_BADDEVICEID;
    EXPECT_EQ(0, openInput(in, nullptr, 44100, 2));
    EXPECT_EQ(0, in.isOpen);
    const char* expected[] = {"No suitable INPUT device could be found.", "HRESULT: 0x80004005", "HRESULT: 0x88780064",
                              "While using the soundcard for recording,\nthe device reported the following error code:"
                              "\n\n'fake error 2'"};
    ASSERT_EQ(4u, boxes.calls().size());
    for (int i = 0; i < 4; ++i) EXPECT_EQ(expected[i], boxes.calls()[i].text);
    EXPECT_EQ("Harnwick Live", boxes.calls()[0].caption);
}

}  // namespace
