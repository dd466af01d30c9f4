#include <cstring>
#include <string>
#include <vector>

#include "recording/recording.h"
#include "settings/settings.h"
#include "support/testenv.h"

namespace {

class RecordingTest : public HarnwickTest {
protected:
    // Records both signals into the test folder unless a test says otherwise.
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

// The 44-byte header of 16-bit PCM holding dataField bytes, field by field.
void expectHeader(const std::vector<unsigned char>& h, int channels, int rate, uint32_t dataField) {
    ASSERT_GE(h.size(), 44u);
    EXPECT_EQ(0, memcmp(h.data(), "RIFF", 4));
    EXPECT_EQ(0, memcmp(h.data() + 8, "WAVEfmt ", 8));
    EXPECT_EQ(0, memcmp(h.data() + 36, "data", 4));
    const uint32_t frameBytes = 2 * channels, rateField = rate, channelField = 1 | uint32_t(channels) << 16;
    const uint32_t fields[] = {le32(h, 4),  le32(h, 16), le32(h, 20), le32(h, 24),
                               le32(h, 28), le32(h, 32), le32(h, 40)};
    const uint32_t expected[] = {dataField + 36,        16,       channelField, rateField, rateField * frameBytes,
                                 frameBytes | 16 << 16, dataField};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(expected[i], fields[i]) << "field " << i;
}

TEST_F(RecordingTest, FileNames) {
    const std::string tooLong(250, 'n');  // the path would not fit 256 bytes: not recorded
    struct Case {
        const char* setting;  // null: the default name
        int take;             // 0: no take number appended
        std::string file;     // in the test folder
    } cases[] = {
        {nullptr, 0, "Harnwick Input Signal.wav"},
        {nullptr, 7, "Harnwick Input Signal-0007.wav"},
        {"mix.flac", 0, "mix.flac.wav"},
        {".wav", 0, ".wav.wav"},
        {"take.", 0, "take..wav"},
        {"x.mp3", 0, "x.wav"},
        {tooLong.c_str(), 0, ""},
    };
    for (const Case& c : cases) {
        if (c.setting) writeSettingText("SAVE_INPUT_FILENAME", c.setting);
        writeSettingFlag("APPEND_TAKE_NUMBER", c.take != 0);
        writeSettingInt("TAKE_NUMBER", c.take);
        EXPECT_EQ(c.file.empty() ? "<none:untouched>" : tempPath(c.file), inputPath()) << c.file;
    }
}

TEST_F(RecordingTest, DirectoryRules) {
    // With a trailing backslash: no second one.
    writeSettingText("DISK_OUTPUT_DIRECTORY", (tempDir() + "\\").c_str());
    EXPECT_EQ(tempPath("Harnwick Input Signal.wav"), inputPath());
    char directory[kRecordingPathBytes];
    ASSERT_EQ(1, outputDirectory(directory));
    EXPECT_EQ(tempDir() + "\\", directory);

    // A 255-character folder leaves no room for the backslash in the 256-byte buffer: refused.
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

TEST_F(RecordingTest, FileLife) {
    MessageBoxRecorder boxes;
    HANDLE file = openRecording(1, 2, 44100, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    const std::string path = tempPath("Harnwick Input Signal.wav");
    int16_t samples[2000];
    for (int i = 0; i < 2000; ++i) samples[i] = static_cast<int16_t>(i - 1000);
    writeSamples(samples, 1200, file);
    writeSamples(samples + 1200, 800, file);
    // Every sample written is in the file at once, behind the open-ended header a reader takes to the
    // end of the file: a take whose program dies keeps it all (the live test kills a host mid-take).
    std::vector<unsigned char> done = readFileBytes(path);
    ASSERT_EQ(4044u, done.size());
    EXPECT_EQ(0xFFFFFFFFu, le32(done, 40));
    EXPECT_EQ(0, memcmp(done.data() + 44, samples, 4000));
    closeRecording(file, 2, 44100);
    EXPECT_EQ(INVALID_HANDLE_VALUE, file);
    done = readFileBytes(path);
    ASSERT_EQ(4044u, done.size());
    expectHeader(done, 2, 44100, 4000);

    // A new take truncates the old one.
    file = openRecording(1, 1, 48000, nullptr);
    closeRecording(file, 1, 48000);
    done = readFileBytes(path);
    EXPECT_EQ(44u, done.size());
    expectHeader(done, 1, 48000, 0);
    EXPECT_TRUE(boxes.calls().empty());
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
    for (size_t k = 0; k < reader.received.size(); ++k)
        ASSERT_EQ(static_cast<int16_t>(k % 4096), reader.received[k]) << k;
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
    LARGE_INTEGER end;
    end.QuadPart = kWaveHeaderBytes + dataBytes;  // a long take: a sparse hole
    SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    CloseHandle(file);
}

// The repair of a killed host's real takes is checked end to end in tests/live
// (also that a running take is left alone); here the sizes it must find.
TEST_F(RecordingTest, InterruptedTakesGetTheirRealSizes) {
    TraceRecorder trace;
    HANDLE file = openRecording(1, 2, 44100, nullptr);
    closeRecording(file, 2, 44100);
    const std::string finished = tempPath("Harnwick Input Signal.wav"), foreign = tempPath("notes.wav");
    FILE* f = fopen(foreign.c_str(), "wb");
    fputs("not a recording, but long enough to hold a whole header of 44 bytes", f);
    fclose(f);
    const std::vector<unsigned char> finishedBytes = readFileBytes(finished), foreignBytes = readFileBytes(foreign);
    struct Take {
        int channels;
        int64_t dataBytes;
        uint32_t dataField;
    } takes[] = {{2, 4000 + 3, 4000}, {1, 0, 0}, {2, 0x140000000ll, 0xFFFFFFD8}};  // a partial frame; 5 GiB
    for (int i = 0; i < 3; ++i)
        writeInterruptedTake(tempPath(std::to_string(i) + ".wav"), takes[i].channels, takes[i].dataBytes);
    EXPECT_EQ(3, repairInterruptedTakes(tempDir().c_str()));
    for (int i = 0; i < 3; ++i) {
        std::vector<unsigned char> h(kWaveHeaderBytes);
        FILE* take = fopen(tempPath(std::to_string(i) + ".wav").c_str(), "rb");
        ASSERT_EQ(1u, fread(h.data(), h.size(), 1, take));
        fclose(take);
        expectHeader(h, takes[i].channels, 44100, takes[i].dataField);
        EXPECT_TRUE(trace.contains(tempPath(std::to_string(i) + ".wav"))) << "the trace names each repaired file";
    }
    DeleteFileA(tempPath("2.wav").c_str());
    EXPECT_EQ(finishedBytes, readFileBytes(finished));
    EXPECT_EQ(foreignBytes, readFileBytes(foreign));
    EXPECT_EQ(0, repairInterruptedTakes(tempDir().c_str())) << "repaired once";
    // A new take repairs its folder first.
    writeInterruptedTake(tempPath("0.wav"), 2, 400);
    file = openRecording(0, 2, 44100, nullptr);
    EXPECT_EQ(400u, le32(readFileBytes(tempPath("0.wav")), 40));
    closeRecording(file, 2, 44100);
}

}  // namespace
