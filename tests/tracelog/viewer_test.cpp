// The trace viewer program (tools/traceview) against a buffer this test
// writes through the client: setting up, printing, following, clearing.
#include <algorithm>

#include "pbtestenv.h"

namespace {

std::string viewer(const std::string& arguments) {
    return "\"" + programBeside("..\\..\\tools\\traceview\\traceview.exe") + "\" " + arguments;
}

bool waitForText(const std::string& path, const std::string& text) {
    for (int i = 0; i < 1000; ++i, Sleep(10))
        if (readText(path).find(text) != std::string::npos) return true;
    return false;
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST_F(TraceLogTest, ViewerSetsUpPrintsClearsAndRemovesTheBuffer) {
    const std::string out = tempPath("out.txt"), folder = tempPath("made");
    ASSERT_EQ(runProgram(viewer("--setup \"" + folder + "\" 20000"), out), 0);
    EXPECT_EQ(readViewerValue("IPC buffer directory"), folder);
    EXPECT_EQ(readViewerValue("IPC buffer size"), "20000");
    PBComponent component;
    PBSetComponent(&component, "Graph", "g", TRUE, 0);
    const int line = __LINE__ + 1;
    TRACE(TRACE_WARNING, "viewer sees %d", 7);
    traceLineEx("fresh.cpp", 55, TRACE_ERROR, &component, nullptr, "Could not create Dump");
    ASSERT_EQ(runProgram(viewer(""), out), 0) << readText(out);
    std::string text = readText(out);
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());  // console lines end in CR LF
    char ids[40];
    snprintf(ids, sizeof ids, "%5lu:%-5lu", GetCurrentProcessId(), GetCurrentThreadId());
    EXPECT_TRUE(has(text, "warning " + std::string(ids) + " viewer_test.cpp(" + std::to_string(line) +
                              ") viewer sees 7\n")) << text;
    EXPECT_TRUE(has(text, "error   " + std::string(ids) + " fresh.cpp(55) [Graph] Could not create Dump\n")) << text;
    SYSTEMTIME now;
    GetLocalTime(&now);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;  // the time comes first
    EXPECT_EQ(sscanf(text.c_str(), "%d-%d-%d %d:%d:%d.%d", &year, &month, &day, &hour, &minute, &second, &ms), 7);
    EXPECT_EQ(year, now.wYear);

    ASSERT_EQ(runProgram(viewer("-c"), out), 0);
    EXPECT_TRUE(has(readText(out), "-- buffer cleared"));
    EXPECT_EQ(BufferFile(folder + "\\PBIPC.pbd").field(PB_WRITE_OFFSET), 0u);
    logText("fresh news");
    ASSERT_EQ(runProgram(viewer(""), out), 0);
    EXPECT_FALSE(has(readText(out), "viewer sees")) << readText(out);
    EXPECT_TRUE(has(readText(out), "fresh news")) << readText(out);

    ASSERT_EQ(runProgram(viewer("--remove"), out), 0);
    EXPECT_EQ(readViewerValue("IPC buffer directory"), "");
    // Without settings the viewer says what to do instead of failing silently.
    EXPECT_EQ(runProgram(viewer(""), out), 1);
    EXPECT_TRUE(has(readText(out), "traceview --setup DIR"));
}

TEST_F(TraceLogTest, ViewerFollowsRecordsAsTheyArrive) {
    withViewer();
    logText("before the viewer");
    const std::string out = tempPath("follow.txt");
    PROCESS_INFORMATION following;
    ASSERT_TRUE(startProgram(viewer("-f -s 20"), out, &following));
    bool started = waitForText(out, "-- following new records");
    logText("while following 1");
    logText("while following 2");
    bool seen = started && waitForText(out, "while following 2");
    TerminateProcess(following.hProcess, 0);
    WaitForSingleObject(following.hProcess, 5000);
    CloseHandle(following.hThread);
    CloseHandle(following.hProcess);
    const std::string text = readText(out);
    ASSERT_TRUE(seen) << text;
    EXPECT_LT(text.find("before the viewer"), text.find("-- following new records"));
    EXPECT_LT(text.find("-- following new records"), text.find("while following 1"));
    EXPECT_LT(text.find("while following 1"), text.find("while following 2"));
}

TEST_F(TraceLogTest, ViewerWritesANewBufferHeaderOnlyUnderTheLock) {
    withViewer();
    HANDLE lock = CreateMutexW(nullptr, TRUE, L"Global\\PB_MTX");  // held by another program
    PROCESS_INFORMATION started;
    ASSERT_TRUE(startProgram(viewer(""), tempPath("out.txt"), &started));
    bool written = false;
    for (int i = 0; i < 50 && !written; ++i, Sleep(10)) {
        std::vector<unsigned char> bytes = readFileBytes(bufferPath());
        written = bytes.size() >= 4 && bytes[0] != 0;
    }
    EXPECT_FALSE(written) << "the header was written while another program held the lock";
    ReleaseMutex(lock);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(started.hProcess, 30000));
    CloseHandle(started.hProcess);
    CloseHandle(started.hThread);
    CloseHandle(lock);
    EXPECT_TRUE(BufferFile(bufferPath()).valid()) << "then it is written";
}

TEST_F(TraceLogTest, ViewerReadsNoFurtherThanTheMappingItGets) {
    withViewer(131072);
    for (int i = 0; i < 1000; ++i) logText("record " + std::to_string(i) + " with some words to take room");
    ASSERT_GT(BufferFile(bufferPath()).field(PB_WRITE_OFFSET), 65536u);
    PBShutdown(2000);
    // Another program made the buffer's mapping when the file was half as long.
    HANDLE file = CreateFileA(bufferPath().c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, 65536, L"Global\\PB_MAP");
    ASSERT_NE(mapping, nullptr);
    const std::string out = tempPath("out.txt");
    EXPECT_EQ(runProgram(viewer(""), out), 0) << readText(out);
    EXPECT_TRUE(has(readText(out), "the buffer header is invalid")) << readText(out);
    CloseHandle(mapping);
    CloseHandle(file);
}
