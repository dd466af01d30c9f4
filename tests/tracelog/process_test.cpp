// Two processes log into one buffer at the same time: the named mutex must
// keep every record and the header whole.
#include <cstdio>

#include "pbtestenv.h"

TEST_F(TraceLogTest, TwoProcessesLoggingAtOnceLoseNoRecordAndKeepTheHeaderWhole) {
    const int each = 1000;
    withViewer(4000000);
    logText("parent connected");
    BufferFile buffer(bufferPath());
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, L"HwTraceLogGo");
    PROCESS_INFORMATION child;
    ASSERT_TRUE(startProgram("\"" + programBeside("tracelog_writer.exe") + "\" " + std::to_string(each), "", &child));
    auto childReady = [&] {
        for (const PBRecord& r : buffer.records())
            if (r.processId == child.dwProcessId) return true;  // its "ready"
        return false;
    };
    for (int i = 0; i < 3000 && !childReady(); ++i) Sleep(10);
    SetEvent(go);
    for (int i = 0; i < each; ++i) logText("parent " + std::to_string(i));
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
    int next[2] = {0, 0}, switches = 0;
    uint32_t total = 0;
    const PBRecord* previous = nullptr;
    for (const PBRecord& r : buffer.records()) {
        total += r.size;
        bool isChild = r.processId == child.dwProcessId;
        int n = -1;
        if (swscanf(r.message.c_str(), isChild ? L"child %d" : L"parent %d", &n) != 1) continue;
        EXPECT_EQ(n, next[isChild]++) << "records of one process stay in order";
        if (previous) {
            EXPECT_GT(r.time, previous->time) << "time stamps keep increasing across processes";
            switches += previous->processId != r.processId;
        }
        previous = &r;
    }
    EXPECT_EQ(total, header.writeOffset) << "the records fill the data area up to the write offset";
    EXPECT_EQ(next[0], each);
    EXPECT_EQ(next[1], each);
    EXPECT_GT(switches, 1) << "both wrote while the other did";
}
