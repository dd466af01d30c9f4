// Two processes log into one buffer at the same time: the named mutex must
// keep every record and the header whole.
#include <cstdio>

#include "pbtestenv.h"
#include "tracelog/trace.h"

namespace {

const int kRecordsEach = 1000;

bool childReady(const BufferFile& buffer, DWORD childId) {
    for (const PBRecord& r : buffer.records())
        if (r.processId == childId && r.message == L"ready") return true;
    return false;
}

}  // namespace

TEST_F(TraceLogTest, TwoProcessesLoggingAtOnceLoseNoRecordAndKeepTheHeaderWhole) {
    withViewer(4000000);
    TRACE(TRACE_INFO, "parent connected");
    BufferFile buffer(bufferPath());
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, L"HwTraceLogGo");
    PROCESS_INFORMATION child;
    std::string command = "\"" + programBeside("tracelog_writer.exe") + "\" " + std::to_string(kRecordsEach);
    ASSERT_TRUE(startProgram(command, "", &child)) << command;
    for (int i = 0; i < 3000 && !childReady(buffer, child.dwProcessId); ++i) Sleep(10);
    ASSERT_TRUE(childReady(buffer, child.dwProcessId));

    SetEvent(go);
    for (int i = 0; i < kRecordsEach; ++i) TRACE(TRACE_INFO, "parent %d", i);
    ASSERT_EQ(WaitForSingleObject(child.hProcess, 60000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    GetExitCodeProcess(child.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 0u);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    CloseHandle(go);

    PBHeaderState header;
    ASSERT_TRUE(buffer.valid(&header));
    EXPECT_EQ(buffer.field(PB_DROPPED), 0u);
    EXPECT_EQ(buffer.field(PB_SUM), pbWordSum(buffer.bytes() + header.dataOffset, header.writeOffset));
    auto records = buffer.records();
    uint32_t total = 0;
    for (const PBRecord& r : records) total += r.size;
    EXPECT_EQ(total, header.writeOffset) << "the records fill the data area up to the write offset";

    int nextParent = 0, nextChild = 0, switches = 0;
    DWORD previousProcess = 0;
    uint64_t previousTime = 0;
    for (const PBRecord& r : records) {
        int n = -1;
        bool isChild = r.processId == child.dwProcessId;
        if (swscanf(r.message.c_str(), isChild ? L"child %d" : L"parent %d", &n) != 1) continue;
        EXPECT_EQ(n, isChild ? nextChild : nextParent) << "records of one process stay in order";
        (isChild ? nextChild : nextParent) = n + 1;
        if (previousProcess && previousProcess != r.processId) ++switches;
        previousProcess = r.processId;
        EXPECT_GT(r.time, previousTime) << "time stamps keep increasing across processes";
        previousTime = r.time;
        if (isChild) {
            EXPECT_NE(r.processPath.find(L"tracelog_writer.exe"), std::wstring::npos);
        }
    }
    EXPECT_EQ(nextParent, kRecordsEach);
    EXPECT_EQ(nextChild, kRecordsEach);
    // Both wrote while the other did: their records interleave.
    EXPECT_GT(switches, 1);
    printf("records %zu, switches between the processes %d\n", records.size(), switches);
}
