#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "recording/recording.h"
#include "settings/settings.h"
#include "support/testenv.h"

namespace {

class RecordingTest : public HarnwickTest {
protected:
    // Records the input into the test folder unless a test says otherwise.
    void SetUp() override {
        HarnwickTest::SetUp();
        writeSettingText("DISK_OUTPUT_DIRECTORY", tempDir().c_str());
        writeSettingFlag("SAVE_INPUT", true);
        writeSettingFlag("SAVE_OUTPUT", true);
    }

    std::string inputPath() {
        char path[kRecordingPathBytes] = "untouched";
        if (!takeFileName(path, 1)) return "<none:" + std::string(path) + ">";
        return path;
    }
};

uint32_t le32(const std::vector<unsigned char>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
uint16_t le16(const std::vector<unsigned char>& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }

TEST_F(RecordingTest, FileNames) {
    EXPECT_EQ(tempPath("Harnwick Input Signal.wav"), inputPath());
    char out[kRecordingPathBytes];
    ASSERT_EQ(1, takeFileName(out, 0));
    EXPECT_EQ(tempPath("Harnwick Output Signal.wav"), out);

    writeSettingFlag("APPEND_TAKE_NUMBER", true);
    writeSettingInt("TAKE_NUMBER", 7);
    EXPECT_EQ(tempPath("Harnwick Input Signal-0007.wav"), inputPath());
    writeSettingInt("TAKE_NUMBER", 12345);
    EXPECT_EQ(tempPath("Harnwick Input Signal-12345.wav"), inputPath());
    writeSettingFlag("APPEND_TAKE_NUMBER", false);

    struct Case {
        const char* setting;
        const char* file;
    } cases[] = {{"mix.wav", "mix.wav"}, {"mix.flac", "mix.flac.wav"}, {"a.wav", "a.wav"},
                 {".wav", ".wav.wav"},   {"take.", "take..wav"},       {"song.", "song..wav"},
                 {"x.mp3", "x.wav"}};
    for (const Case& c : cases) {
        writeSettingText("SAVE_INPUT_FILENAME", c.setting);
        EXPECT_EQ(tempPath(c.file), inputPath()) << c.setting;
    }
}

TEST_F(RecordingTest, DirectoryRules) {
    // With a trailing backslash: no second one.
    writeSettingText("DISK_OUTPUT_DIRECTORY", (tempDir() + "\\").c_str());
    EXPECT_EQ(tempPath("Harnwick Input Signal.wav"), inputPath());
    char directory[kRecordingPathBytes];
    ASSERT_EQ(1, outputDirectory(directory));
    EXPECT_EQ(tempDir() + "\\", directory);
    EXPECT_EQ(1, outputDirectory(nullptr));

    // A 255-character folder leaves no room for the backslash in the 256-byte buffer: refused.
    // One character less fits.
    std::string base = tempDir() + "\\" + std::string(150 - tempDir().size() % 50, 'b');
    ASSERT_TRUE(CreateDirectoryA(base.c_str(), nullptr));
    for (size_t length : {255u, 254u}) {
        const std::string folder = base + "\\" + std::string(length - base.size() - 1, 'd');
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
        writeSettingText("DISK_OUTPUT_DIRECTORY", folder.c_str());
        char guarded[kRecordingPathBytes + 1];
        guarded[kRecordingPathBytes] = '#';
        EXPECT_EQ(length == 254 ? 1 : 0, outputDirectory(guarded)) << length;
        EXPECT_EQ('#', guarded[kRecordingPathBytes]) << length << ": nothing written past the buffer";
    }

    // Missing, empty, or a file instead of a folder: nothing recorded, buffer untouched.
    const std::string file = tempPath("plain.txt");
    fclose(fopen(file.c_str(), "w"));
    for (std::string bad : {tempPath("missing"), std::string(), file}) {
        writeSettingText("DISK_OUTPUT_DIRECTORY", bad.c_str());
        EXPECT_EQ(0, outputDirectory(directory)) << bad;
        EXPECT_EQ("<none:untouched>", inputPath()) << bad;
    }
}

TEST_F(RecordingTest, SaveFlagsAndBufferAndLength) {
    writeSettingText("SAVE_INPUT", "true");
    EXPECT_EQ("<none:untouched>", inputPath());
    char out[kRecordingPathBytes];
    EXPECT_EQ(1, takeFileName(out, 0)) << "the output flag is its own";
    EXPECT_EQ(0, takeFileName(nullptr, 0));

    // A name that would not fit the 256-byte path is not recorded.
    writeSettingFlag("SAVE_INPUT", true);
    writeSettingText("SAVE_INPUT_FILENAME", std::string(250, 'n').c_str());
    EXPECT_EQ("<none:untouched>", inputPath());
}

TEST_F(RecordingTest, HeaderBytes) {
    struct Case {
        int channels, rate;
        int64_t dataBytes;
        uint32_t riffField, byteRate, blockAlign, dataField;
    } cases[] = {
        {2, 44100, 1000 * 4, 4036, 176400, 4, 4000},
        {1, 48000, 0, 36, 96000, 2, 0},
        // Past 4 GiB of data the sizes stay at the largest whole frame count that fits.
        {2, 44100, 0x100000000ll, 0xFFFFFFFC, 176400, 4, 0xFFFFFFD8},
    };
    for (const Case& c : cases) {
        uint8_t header[kWaveHeaderBytes];
        buildWaveHeader(header, c.channels, c.rate, c.dataBytes / (2 * c.channels));
        std::vector<unsigned char> h(header, header + kWaveHeaderBytes);
        EXPECT_EQ(0, memcmp(header, "RIFF", 4));
        EXPECT_EQ(0, memcmp(header + 8, "WAVEfmt ", 8));
        EXPECT_EQ(0, memcmp(header + 36, "data", 4));
        const uint32_t fields[] = {le32(h, 4), le32(h, 16), le16(h, 20), le16(h, 22), le32(h, 24),
                                   le32(h, 28), le16(h, 32), le16(h, 34), le32(h, 40)};
        const uint32_t expected[] = {c.riffField, 16, 1, uint32_t(c.channels), uint32_t(c.rate),
                                     c.byteRate, c.blockAlign, 16, c.dataField};
        for (int i = 0; i < 9; ++i) EXPECT_EQ(expected[i], fields[i]) << c.dataBytes << ", field " << i;
    }
}

TEST_F(RecordingTest, FileLife) {
    MessageBoxRecorder boxes;
    HANDLE file = openRecording(1, 2, 44100, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    const std::string path = tempPath("Harnwick Input Signal.wav");

    // While open the header is the open-ended placeholder, readable by others.
    std::vector<unsigned char> open = readFileBytes(path);
    ASSERT_EQ(44u, open.size());
    EXPECT_EQ(0xFFFFFFFFu, le32(open, 4));
    EXPECT_EQ(0xFFFFFFFFu, le32(open, 40));
    EXPECT_EQ(44100u, le32(open, 24));

    int16_t samples[2000];
    for (int i = 0; i < 2000; ++i) samples[i] = static_cast<int16_t>(i - 1000);
    writeSamples(samples, 1200, file);
    writeSamples(samples + 1200, 800, file);
    writeSamples(samples, 0, file);
    writeSamples(samples, 10, INVALID_HANDLE_VALUE);
    closeRecording(file, 2, 44100);
    EXPECT_EQ(INVALID_HANDLE_VALUE, file);
    closeRecording(file, 2, 44100);  // twice is harmless

    std::vector<unsigned char> done = readFileBytes(path);
    ASSERT_EQ(4044u, done.size());
    EXPECT_EQ(4036u, le32(done, 4));
    EXPECT_EQ(4000u, le32(done, 40));
    EXPECT_EQ(0, memcmp(done.data() + 44, samples, 4000));
    EXPECT_TRUE(boxes.calls().empty());

    // A new take truncates; with no samples it is a 44-byte file with data length 0.
    file = openRecording(1, 1, 48000, nullptr);
    closeRecording(file, 1, 48000);
    done = readFileBytes(path);
    ASSERT_EQ(44u, done.size());
    EXPECT_EQ(0u, le32(done, 40));
    EXPECT_EQ(36u, le32(done, 4));
}

TEST_F(RecordingTest, NotRecordedOrNotCreatable) {
    MessageBoxRecorder boxes;
    writeSettingFlag("SAVE_OUTPUT", false);
    EXPECT_EQ(INVALID_HANDLE_VALUE, openRecording(0, 2, 44100, nullptr));
    EXPECT_TRUE(boxes.calls().empty()) << "not recording is not an error";

    // The recording's name is taken by a folder: the user is told, in the stream's words.
    writeSettingFlag("SAVE_OUTPUT", true);
    ASSERT_TRUE(CreateDirectoryA(tempPath("Harnwick Output Signal.wav").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(tempPath("Harnwick Input Signal.wav").c_str(), nullptr));
    EXPECT_EQ(INVALID_HANDLE_VALUE, openRecording(0, 2, 44100, nullptr));
    EXPECT_EQ(INVALID_HANDLE_VALUE, openRecording(1, 2, 44100, nullptr));
    ASSERT_EQ(2u, boxes.calls().size());
    EXPECT_EQ("Could not open file for the output signal.\nIs it opened in your audio player?", boxes.calls()[0].text);
    EXPECT_EQ("Could not open file for the input signal.\nIs it opened in your audio player?", boxes.calls()[1].text);
    for (const auto& call : boxes.calls()) {
        EXPECT_EQ("Harnwick Live", call.caption);
        EXPECT_EQ(static_cast<UINT>(MB_ICONEXCLAMATION), call.flags & MB_ICONMASK);
    }
}

struct PipeReader {
    HANDLE pipe;
    std::vector<int16_t> received;
    static DWORD WINAPI run(LPVOID self) {
        PipeReader& r = *static_cast<PipeReader*>(self);
        int16_t block[2048];
        DWORD got = 0;
        while (ReadFile(r.pipe, block, sizeof block, &got, nullptr) && got > 0)
            r.received.insert(r.received.end(), block, block + got / 2);
        return 0;
    }
};

// A disk that takes nothing (a pipe nobody reads yet): the audio thread's
// appends still return at once, what does not fit in the ring is counted
// lost in whole chunks, and everything kept reaches the file in order.
TEST(RecordingQueueTest, AppendsNeverWaitOnTheDisk) {
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 4096));
    RecordingQueue queue;
    ASSERT_EQ(1, startRecordingQueue(queue, writeEnd));
    std::vector<int16_t> chunk(4096);
    for (size_t k = 0; k < chunk.size(); ++k) chunk[k] = static_cast<int16_t>(k);
    const int chunks = 300;  // 2.4 MB, more than the ring holds
    for (int i = 0; i < chunks; ++i) appendRecording(queue, chunk.data(), static_cast<int>(chunk.size()));
    // The writer is stuck on the full pipe: the 2 MiB ring takes 256 whole chunks, not one sample less.
    EXPECT_EQ((chunks - 256) * 8192, queue.lostBytes);

    PipeReader reader = {readEnd, {}};
    HANDLE thread = CreateThread(nullptr, 0, PipeReader::run, &reader, 0, nullptr);
    CloseHandle(stopRecordingQueue(queue));  // drains; closing the pipe ends the reader
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(readEnd);
    EXPECT_EQ(chunks * 8192, static_cast<int64_t>(2 * reader.received.size()) + queue.lostBytes);
    for (size_t k = 0; k < reader.received.size(); ++k) ASSERT_EQ(static_cast<int16_t>(k % 4096), reader.received[k]) << k;
}

// A take cut short by a crash: placeholder header, dataBytes of samples after it.
void writeInterruptedTake(const std::string& path, int channels, int64_t dataBytes) {
    uint8_t header[kWaveHeaderBytes];
    buildWaveHeader(header, channels, 44100, 0);
    memset(header + 4, 0xFF, 4);
    memset(header + 40, 0xFF, 4);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written;
    WriteFile(file, header, sizeof header, &written, nullptr);
    std::vector<char> data(static_cast<size_t>(std::min<int64_t>(dataBytes, 1 << 16)), 7);
    WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = kWaveHeaderBytes + dataBytes;  // a long take: the rest is a sparse hole
    SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    CloseHandle(file);
}

TEST_F(RecordingTest, InterruptedTakesGetTheirRealSizes) {
    TraceRecorder trace;
    const std::string finished = tempPath("done.wav"), foreign = tempPath("notes.wav");
    HANDLE file = openRecording(1, 2, 44100, nullptr);
    closeRecording(file, 2, 44100);
    MoveFileA(tempPath("Harnwick Input Signal.wav").c_str(), finished.c_str());
    const std::string stereo = tempPath("a.wav"), mono = tempPath("b.wav"), huge = tempPath("c.wav");
    writeInterruptedTake(stereo, 2, 4000 + 3);  // a partial last frame is not counted
    writeInterruptedTake(mono, 1, 0);
    writeInterruptedTake(huge, 2, 0x140000000ll);  // 5 GiB
    FILE* f = fopen(foreign.c_str(), "wb");
    fputs("not a recording, but long enough to hold a whole header of 44 bytes", f);
    fclose(f);
    const std::vector<unsigned char> finishedBytes = readFileBytes(finished), foreignBytes = readFileBytes(foreign);

    EXPECT_EQ(3, repairInterruptedTakes(tempDir().c_str()));
    std::vector<unsigned char> h = readFileBytes(stereo);
    EXPECT_EQ(4000u, le32(h, 40));
    EXPECT_EQ(4036u, le32(h, 4));
    EXPECT_EQ(4047u, h.size()) << "the samples stay as they are";
    h = readFileBytes(mono);
    EXPECT_EQ(0u, le32(h, 40));
    EXPECT_EQ(36u, le32(h, 4));
    FILE* big = fopen(huge.c_str(), "rb");
    unsigned char bigHeader[kWaveHeaderBytes];
    ASSERT_EQ(1u, fread(bigHeader, sizeof bigHeader, 1, big));
    fclose(big);
    h.assign(bigHeader, bigHeader + kWaveHeaderBytes);
    EXPECT_EQ(0xFFFFFFD8u, le32(h, 40));
    EXPECT_EQ(finishedBytes, readFileBytes(finished));
    EXPECT_EQ(foreignBytes, readFileBytes(foreign));
    EXPECT_TRUE(trace.contains(stereo)) << "the trace names each repaired file";
    EXPECT_FALSE(trace.contains(finished));
    EXPECT_EQ(0, repairInterruptedTakes(tempDir().c_str())) << "repaired once";
    DeleteFileA(huge.c_str());

    // A new take repairs the folder first, but not a recording still being written.
    writeInterruptedTake(stereo, 2, 400);
    writeSettingFlag("SAVE_OUTPUT", false);
    HANDLE input = openRecording(1, 2, 44100, nullptr);
    EXPECT_EQ(400u, le32(readFileBytes(stereo), 40));
    writeSettingFlag("SAVE_OUTPUT", true);
    HANDLE output = openRecording(0, 2, 44100, nullptr);
    EXPECT_EQ(0xFFFFFFFFu, le32(readFileBytes(tempPath("Harnwick Input Signal.wav")), 40)) << "the running take is left";
    closeRecording(input, 2, 44100);
    closeRecording(output, 2, 44100);
}

}  // namespace
