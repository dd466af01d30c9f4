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
    uint8_t header[kWaveHeaderBytes];
    buildWaveHeader(header, 2, 44100, 1000);
    std::vector<unsigned char> h(header, header + kWaveHeaderBytes);
    EXPECT_EQ(0, memcmp(header, "RIFF", 4));
    EXPECT_EQ(4036u, le32(h, 4));
    EXPECT_EQ(0, memcmp(header + 8, "WAVEfmt ", 8));
    EXPECT_EQ(16u, le32(h, 16));
    EXPECT_EQ(1, le16(h, 20));
    EXPECT_EQ(2, le16(h, 22));
    EXPECT_EQ(44100u, le32(h, 24));
    EXPECT_EQ(176400u, le32(h, 28));
    EXPECT_EQ(4, le16(h, 32));
    EXPECT_EQ(16, le16(h, 34));
    EXPECT_EQ(0, memcmp(header + 36, "data", 4));
    EXPECT_EQ(4000u, le32(h, 40));

    buildWaveHeader(header, 1, 48000, 0);
    h.assign(header, header + kWaveHeaderBytes);
    EXPECT_EQ(36u, le32(h, 4));
    EXPECT_EQ(96000u, le32(h, 28));
    EXPECT_EQ(2, le16(h, 32));
    EXPECT_EQ(0u, le32(h, 40));
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
    EXPECT_GT(queue.lostBytes, 0);
    EXPECT_EQ(0, queue.lostBytes % 8192) << "whole chunks";

    PipeReader reader = {readEnd, {}};
    HANDLE thread = CreateThread(nullptr, 0, PipeReader::run, &reader, 0, nullptr);
    CloseHandle(stopRecordingQueue(queue));  // drains; closing the pipe ends the reader
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(readEnd);
    EXPECT_EQ(chunks * 8192, static_cast<int64_t>(2 * reader.received.size()) + queue.lostBytes);
    for (size_t k = 0; k < reader.received.size(); ++k) ASSERT_EQ(static_cast<int16_t>(k % 4096), reader.received[k]) << k;
}

}  // namespace
