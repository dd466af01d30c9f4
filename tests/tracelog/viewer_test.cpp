// The trace viewer program (tools/traceview) against a buffer this test
// writes through the client: printing, following and clearing.
#include <algorithm>

#include "pbtestenv.h"
#include "tracelog/trace.h"

namespace {

std::string viewerCommand(const std::string& arguments) {
    return "\"" + programBeside("..\\..\\tools\\traceview\\traceview.exe") + "\" " + arguments;
}

bool waitForText(const std::string& path, const std::string& text, int tries = 1000) {
    for (int i = 0; i < tries; ++i) {
        if (readText(path).find(text) != std::string::npos) return true;
        Sleep(10);
    }
    return false;
}

}  // namespace

TEST_F(TraceLogTest, ViewerPrintsEveryRecordWithItsFields) {
    withViewer();
    PBComponent component;
    PBSetComponent(&component, "Graph", "g", TRUE, 0);
    int line = __LINE__ + 1;
    TRACE(TRACE_WARNING, "viewer sees %d", 7);
    traceLineEx("fresh.cpp", 55, TRACE_ERROR, &component, nullptr, "Could not create Dump");
    std::string output = tempPath("out.txt");
    ASSERT_EQ(runProgram(viewerCommand(""), output), 0) << readText(output);
    std::string text = readText(output);
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());  // console lines end in CR LF
    char ids[40];
    snprintf(ids, sizeof ids, "%5lu:%-5lu", GetCurrentProcessId(), GetCurrentThreadId());
    EXPECT_NE(text.find("warning " + std::string(ids) + " viewer_test.cpp(" + std::to_string(line) +
                        ") viewer sees 7\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("error   " + std::string(ids) + " fresh.cpp(55) [Graph] Could not create Dump\n"),
              std::string::npos)
        << text;
    // Time first: year-month-day hour:minute:second.millisecond.
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
    EXPECT_EQ(sscanf(text.c_str(), "%d-%d-%d %d:%d:%d.%d", &year, &month, &day, &hour, &minute, &second, &ms), 7);
    SYSTEMTIME now;
    GetLocalTime(&now);
    EXPECT_EQ(year, now.wYear);
}

TEST_F(TraceLogTest, ViewerFollowsRecordsAsTheyArrive) {
    withViewer();
    TRACE(TRACE_INFO, "before the viewer");
    std::string output = tempPath("follow.txt");
    PROCESS_INFORMATION viewer;
    ASSERT_TRUE(startProgram(viewerCommand("-f -s 20"), output, &viewer));
    ASSERT_TRUE(waitForText(output, "-- following new records")) << readText(output);
    TRACE(TRACE_INFO, "while following %d", 1);
    TRACE(TRACE_INFO, "while following %d", 2);
    bool seen = waitForText(output, "while following 2");
    TerminateProcess(viewer.hProcess, 0);
    WaitForSingleObject(viewer.hProcess, 5000);
    CloseHandle(viewer.hThread);
    CloseHandle(viewer.hProcess);
    std::string text = readText(output);
    ASSERT_TRUE(seen) << text;
    size_t following = text.find("-- following new records");
    EXPECT_LT(text.find("before the viewer"), following);
    EXPECT_GT(text.find("while following 1"), following);
    EXPECT_LT(text.find("while following 1"), text.find("while following 2"));
}

TEST_F(TraceLogTest, ViewerClearsTheBuffer) {
    withViewer();
    TRACE(TRACE_INFO, "old news");
    std::string output = tempPath("out.txt");
    ASSERT_EQ(runProgram(viewerCommand("-c"), output), 0);
    EXPECT_NE(readText(output).find("-- buffer cleared"), std::string::npos);
    BufferFile buffer(bufferPath());
    EXPECT_EQ(buffer.field(PB_WRITE_OFFSET), 0u);
    EXPECT_TRUE(buffer.valid());
    TRACE(TRACE_INFO, "fresh news");
    ASSERT_EQ(runProgram(viewerCommand(""), output), 0);
    std::string text = readText(output);
    EXPECT_EQ(text.find("old news"), std::string::npos) << text;
    EXPECT_NE(text.find("fresh news"), std::string::npos) << text;
}

TEST_F(TraceLogTest, ViewerWritesAndRemovesTheSettings) {
    std::string output = tempPath("out.txt");
    std::string folder = tempPath("made");
    ASSERT_EQ(runProgram(viewerCommand("--setup \"" + folder + "\" 20000"), output), 0);
    EXPECT_EQ(readViewerValue("IPC buffer directory"), folder);
    DWORD attributes = GetFileAttributesA(folder.c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(readViewerValue("IPC buffer size"), "20000");
    TRACE(TRACE_INFO, "into the new buffer");
    EXPECT_TRUE(pbConnected());
    ASSERT_EQ(runProgram(viewerCommand("--remove"), output), 0);
    EXPECT_FALSE(viewerValueExists("IPC buffer directory"));
    // Without settings the viewer says what to do instead of failing silently.
    EXPECT_EQ(runProgram(viewerCommand(""), output), 1);
    EXPECT_NE(readText(output).find("traceview --setup DIR"), std::string::npos);
}

TEST_F(TraceLogTest, ViewerWritesANewBufferHeaderOnlyUnderTheLock) {
    withViewer();
    // Another program holds the buffer lock; the viewer finds no buffer file yet.
    HANDLE lock = CreateMutexW(nullptr, TRUE, L"Global\\PB_MTX");
    ASSERT_NE(lock, nullptr);
    std::string output = tempPath("out.txt");
    PROCESS_INFORMATION viewer;
    ASSERT_TRUE(startProgram(viewerCommand(""), output, &viewer));
    // Until the lock is free, the new file's header stays unwritten.
    bool created = false;
    for (int i = 0; i < 50 && !created; ++i, Sleep(10))
        created = readFileBytes(bufferPath()).size() >= 4 && readFileBytes(bufferPath())[0] != 0;
    EXPECT_FALSE(created) << "the header was written while another program held the lock";
    ReleaseMutex(lock);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(viewer.hProcess, 30000));
    CloseHandle(viewer.hProcess);
    CloseHandle(viewer.hThread);
    CloseHandle(lock);
    EXPECT_TRUE(BufferFile(bufferPath()).valid()) << "then it is written";
}

TEST_F(TraceLogTest, ViewerReadsNoFurtherThanTheMappingItGets) {
    withViewer(131072);
    // Records well past the first 64 KiB.
    for (int i = 0; i < 1000; ++i) TRACE(TRACE_INFO, "record %d with some words to take room in the buffer", i);
    ASSERT_GT(BufferFile(bufferPath()).field(PB_WRITE_OFFSET), 65536u);
    PBShutdown(2000);
    // Another program made the buffer's mapping when the file was half as long.
    HANDLE file = CreateFileA(bufferPath().c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, 65536, L"Global\\PB_MAP");
    ASSERT_NE(mapping, nullptr);
    std::string output = tempPath("out.txt");
    EXPECT_EQ(runProgram(viewerCommand(""), output), 0) << readText(output);
    EXPECT_NE(readText(output).find("the buffer header is invalid"), std::string::npos) << readText(output);
    CloseHandle(mapping);
    CloseHandle(file);
}
