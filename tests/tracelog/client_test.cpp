// The trace-log client against a real buffer file, real named objects and
// the registry: connecting, sizing, header repair, writing, dropping,
// signals and time stamps.
#include <string>
#include <thread>

#include "pbtestenv.h"
#include "platform/platform.h"
#include "tracelog/trace.h"

namespace {

void logText(const std::string& text, DWORD level = TRACE_INFO) {
    traceLineEx("client_test.cpp", 7, level, nullptr, nullptr, "%s", text.c_str());
}

bool reported(const std::vector<TraceLogTest::Report>& reports, DWORD code) {
    for (const auto& r : reports)
        if (r.code == code) return true;
    return false;
}

uint64_t fileBytesOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

bool fileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

TEST_F(TraceLogTest, WithoutBufferDirectoryNothingIsCreatedAndTheClientStaysOff) {
    TRACE(TRACE_INFO, "nobody listens");
    EXPECT_FALSE(pbConnected());
    EXPECT_EQ(OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\PB_MTX"), nullptr);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].code, 201u);
    EXPECT_EQ(reports[0].detail, L"IPC buffer directory");

    // Disabled for the rest of the process: settings written later are not read.
    withViewer();
    TRACE(TRACE_INFO, "still nobody");
    EXPECT_FALSE(fileExists(bufferPath()));
    EXPECT_EQ(reports.size(), 1u);

    pbRestart();
    TRACE(TRACE_INFO, "now somebody");
    ASSERT_TRUE(pbConnected());
    BufferFile buffer(bufferPath());
    auto records = buffer.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].message, L"now somebody");
}

TEST_F(TraceLogTest, ADirectoryTooLongForTheFileNameDisablesWithoutReport) {
    setViewerValue("IPC buffer directory", tempDir() + "\\" + std::string(260, 'x'));
    logText("lost");
    EXPECT_FALSE(pbConnected());
    EXPECT_TRUE(reports.empty());
}

TEST_F(TraceLogTest, BufferSizeOutsideTheRangeGivesTheDefaultAndIsReported) {
    struct Case {
        const char* configured;
        uint64_t fileBytes;
        bool reported;
    } cases[] = {{"5000", 1000000, true},      {"100000000", 100000000, false}, {"10000", 10000, false},
                 {"9999", 1000000, true},      {"100000001", 1000000, true},    {"12 kB", 1000000, true},
                 {nullptr, 1000000, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.configured ? c.configured : "(missing)");
        reconnect();
        DeleteFileA(bufferPath().c_str());
        reports.clear();
        deleteViewerKey();
        setViewerValue("IPC buffer directory", tempDir());
        if (c.configured) setViewerValue("IPC buffer size", c.configured);
        logText("sized");
        ASSERT_TRUE(pbConnected());
        EXPECT_EQ(fileBytesOf(bufferPath()), c.fileBytes);
        EXPECT_EQ(reported(reports, 202), c.reported);
        BufferFile buffer(bufferPath());
        EXPECT_EQ(buffer.field(PB_DATA_SIZE), c.fileBytes - 0x400);
        EXPECT_EQ(buffer.records().size(), 1u);
    }
}

TEST_F(TraceLogTest, HeaderResetReasonsFollowWhatHappenedToTheFile) {
    SignalProbe newMessages(L"PB_EVT_NEW_MSGS");
    withViewer(100000);
    logText("first");
    {
        BufferFile buffer(bufferPath());
        EXPECT_EQ(buffer.field(PB_RESET_REASON), 4u) << "new file";
        EXPECT_TRUE(newMessages.fired());
    }

    // An existing file with a damaged header.
    reconnect();
    {
        BufferFile buffer(bufferPath());
        buffer.bytes()[PB_MAGIC] ^= 0x01;
    }
    logText("after damage");
    {
        BufferFile buffer(bufferPath());
        EXPECT_EQ(buffer.field(PB_RESET_REASON), 2u);
        ASSERT_EQ(buffer.records().size(), 1u);
        EXPECT_EQ(buffer.records()[0].message, L"after damage");
    }

    // Made smaller while it held records.
    reconnect();
    newMessages.fired();
    withViewer(50000);
    logText("smaller");
    {
        BufferFile buffer(bufferPath());
        EXPECT_EQ(buffer.fileBytes(), 50000u);
        EXPECT_EQ(buffer.field(PB_RESET_REASON), 1u);
        EXPECT_EQ(buffer.records().size(), 1u);
        EXPECT_TRUE(newMessages.fired());
    }

    // Made larger: records kept, only the data size follows.
    reconnect();
    withViewer(60000);
    logText("larger");
    {
        BufferFile buffer(bufferPath());
        EXPECT_EQ(buffer.field(PB_DATA_SIZE), 60000u - 0x400);
        EXPECT_EQ(buffer.field(PB_RESET_REASON), 1u);
        auto records = buffer.records();
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(records[0].message, L"smaller");
    }

    // Made smaller while empty: reset with reason 0.
    reconnect();
    {
        BufferFile buffer(bufferPath());
        buffer.setPair(PB_WRITE_OFFSET, 0);
    }
    withViewer(40000);
    logText("empty and smaller");
    BufferFile buffer(bufferPath());
    EXPECT_EQ(buffer.field(PB_RESET_REASON), 0u);
    EXPECT_EQ(buffer.records().size(), 1u);
}

TEST_F(TraceLogTest, NextBufferDirectoryMovesTheBufferOnce) {
    std::string next = tempPath("next");
    ASSERT_TRUE(CreateDirectoryA(next.c_str(), nullptr));
    withViewer();
    setViewerValue("Next IPC buffer directory", next);
    logText("moved");
    ASSERT_TRUE(pbConnected());
    EXPECT_FALSE(fileExists(bufferPath()));
    EXPECT_EQ(readViewerValue("IPC buffer directory"), next);
    EXPECT_EQ(readViewerValue("Previous IPC buffer directory"), tempDir());
    EXPECT_FALSE(viewerValueExists("Next IPC buffer directory"));
    reconnect();  // release the file before looking at it
    BufferFile buffer(next + "\\PBIPC.pbd");
    EXPECT_EQ(buffer.field(PB_RESET_REASON), 0u) << "a file reached through a move";
    ASSERT_EQ(buffer.records().size(), 1u);

    // A value naming no directory is deleted and the old directory is used.
    setViewerValue("Next IPC buffer directory", tempPath("missing"));
    logText("stayed");
    EXPECT_FALSE(viewerValueExists("Next IPC buffer directory"));
    EXPECT_TRUE(reported(reports, 203));
    EXPECT_EQ(readViewerValue("IPC buffer directory"), next);
    EXPECT_EQ(buffer.records().size(), 2u);
}

TEST_F(TraceLogTest, WhileAnotherProcessHasTheBufferOpenItsHeaderIsLeftAlone) {
    withViewer(20000);
    logText("made");
    reconnect();
    // The viewer holds the lock object open: this client is not the first.
    HANDLE viewerLock = CreateMutexW(nullptr, FALSE, L"Global\\PB_MTX");
    ASSERT_NE(viewerLock, nullptr);
    SignalProbe newMessages(L"PB_EVT_NEW_MSGS");
    {
        BufferFile buffer(bufferPath());
        buffer.bytes()[PB_MAGIC + 1] ^= 0x40;
    }
    withViewer(30000);
    LONG droppedBefore = pbStatistics().droppedRecords;
    logText("refused");
    EXPECT_TRUE(pbConnected());
    EXPECT_TRUE(newMessages.fired());
    EXPECT_EQ(pbStatistics().droppedRecords, droppedBefore + 1);
    {
        BufferFile buffer(bufferPath());
        EXPECT_EQ(buffer.fileBytes(), 20000u) << "only the first opener sizes the file";
        EXPECT_FALSE(buffer.valid()) << "only the first opener repairs the header";
    }

    // No file while another process holds the lock: the client is disabled.
    reconnect();
    ASSERT_TRUE(DeleteFileA(bufferPath().c_str()));
    logText("nowhere");
    EXPECT_FALSE(pbConnected());
    EXPECT_TRUE(reported(reports, 401));
    EXPECT_FALSE(fileExists(bufferPath()));
    CloseHandle(viewerLock);
}

TEST_F(TraceLogTest, VersionFieldsAreWidenedToBracketTheClient) {
    withViewer();
    logText("one");
    reconnect();
    {
        BufferFile buffer(bufferPath());
        buffer.setPair(PB_VERSION_HIGH, 0x01090000);
        buffer.setPair(PB_VERSION_LOW, 0x01070000);
    }
    logText("two");
    BufferFile buffer(bufferPath());
    EXPECT_EQ(buffer.field(PB_VERSION_HIGH), 0x01090000u);
    EXPECT_EQ(buffer.field(PB_VERSION_LOW), 0x01050000u);
    EXPECT_EQ(buffer.records().size(), 2u) << "a valid header is kept";
    buffer.setPair(PB_VERSION_HIGH, 0x01000000);
    buffer.setPair(PB_VERSION_LOW, 0x01000000);
    logText("three");
    EXPECT_EQ(buffer.field(PB_VERSION_HIGH), 0x01050000u);
    EXPECT_EQ(buffer.field(PB_VERSION_LOW), 0x01000000u);
}

namespace {

uint64_t g_frozenTime = 0;
void WINAPI frozenClock(LPFILETIME now) {
    now->dwLowDateTime = DWORD(g_frozenTime);
    now->dwHighDateTime = DWORD(g_frozenTime >> 32);
}

}  // namespace

TEST_F(TraceLogTest, TimeStampsKeepIncreasingWithinAClockTick) {
    PlatformOverride clock;
    clock.api().getSystemTimeAsFileTime = frozenClock;
    g_frozenTime = 133000000000000000ull;
    withViewer();
    logText("a");
    logText("b");
    g_frozenTime -= 999000;  // the clock stepped back by less than 0.1 s
    logText("c");
    g_frozenTime -= 1000000;  // ... and now by more: the clock is believed
    logText("d");
    g_frozenTime += 20000000;
    logText("e");
    BufferFile buffer(bufferPath());
    auto r = buffer.records();
    ASSERT_EQ(r.size(), 5u);
    EXPECT_EQ(r[0].time, 133000000000000000ull);
    EXPECT_EQ(r[1].time, r[0].time + 50);
    EXPECT_EQ(r[2].time, r[1].time + 50);
    EXPECT_EQ(r[3].time, 133000000000000000ull - 1999000);
    EXPECT_EQ(r[4].time, r[3].time + 20000000);
    EXPECT_EQ(pbRead64(buffer.bytes() + PB_LAST_TIME), r[4].time);
}

TEST_F(TraceLogTest, LevelOneAndVetoedRecordsWriteNothing) {
    withViewer();
    logText("wake up");
    PBComponent off, quiet;
    PBContext offContext;
    PBSetComponent(&off, "Off", "off", FALSE, 0);
    PBSetComponent(&quiet, "Quiet", "quiet", TRUE, TRACE_DETAIL | TRACE_SCOPE);
    PBSetContext(&offContext, "Off context", FALSE, 0);
    traceLineEx("f", 1, 1, nullptr, nullptr, "level one");
    traceLineEx("f", 2, TRACE_ERROR, &off, nullptr, "disabled component");
    traceLineEx("f", 3, TRACE_DETAIL, &quiet, nullptr, "muted level");
    traceLineEx("f", 4, TRACE_ERROR, nullptr, &offContext, "disabled context");
    traceLineEx("f", 5, TRACE_WARNING, &quiet, nullptr, "heard");
    traceLineEx("f", 6, 3, nullptr, nullptr, "odd level");
    traceLineEx("f", 7, 0x20000, nullptr, nullptr, "high level");
    BufferFile buffer(bufferPath());
    auto r = buffer.records();
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[1].message, L"heard");
    EXPECT_EQ(r[1].componentName, L"Quiet");
    EXPECT_EQ(r[1].componentKey, L"quiet");
    EXPECT_EQ(r[2].level, 0u) << "unknown levels with low bits become 0";
    EXPECT_EQ(r[3].level, 0x20000u);
}

TEST_F(TraceLogTest, RecordsCarryTheirFieldsAndTheHeaderSumCoversThem) {
    withViewer();
    int line = __LINE__ + 1;
    TRACE(TRACE_WARNING, "value %d of %s", 42, "answer");
    traceLineW(L"wide.cpp", 99, TRACE_ERROR, nullptr, nullptr, L"wide %ls \u00e9", L"text");
    TRACE(TRACE_WARNING, "value %d of %s!", 42, "answer");  // one character more: 2 bytes further
    BufferFile buffer(bufferPath());
    auto r = buffer.records();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].type, 1);
    EXPECT_EQ(r[0].encoding, 0x11);
    EXPECT_EQ(r[0].level, uint32_t(TRACE_WARNING));
    EXPECT_EQ(r[0].line, uint32_t(line));
    EXPECT_EQ(r[0].sourceFile, L"client_test.cpp");
    EXPECT_EQ(r[0].message, L"value 42 of answer");
    EXPECT_EQ(r[0].processId, GetCurrentProcessId());
    EXPECT_EQ(r[0].threadId, GetCurrentThreadId());
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    EXPECT_EQ(r[0].processPath, self);
    EXPECT_EQ(r[0].modulePath, self) << "the client is linked into the test program";
    EXPECT_EQ(r[1].message, L"wide text \u00e9");
    EXPECT_EQ(r[1].sourceFile, L"wide.cpp");

    PBHeaderState header;
    ASSERT_TRUE(buffer.valid(&header));
    EXPECT_EQ(header.writeOffset, r[0].size + r[1].size + r[2].size);
    for (const PBRecord& record : r) {
        size_t needed = PB_REC_STRINGS;  // every string with its terminator
        for (const std::wstring* text : {&record.componentKey, &record.componentName, &record.contextName,
                                         &record.processPath, &record.modulePath, &record.sourceFile, &record.message})
            needed += 2 * (text->size() + 1);
        EXPECT_GE(record.size, needed) << "the record of line " << record.line;
    }
    uint32_t sum = pbWordSum(buffer.bytes() + header.dataOffset, header.writeOffset);
    EXPECT_EQ(buffer.field(PB_SUM), sum);
}

TEST_F(TraceLogTest, EveryCommitPastHalfTheDataAreaSignalsLowSpace) {
    withViewer(10000);  // data area 8976 bytes
    logText("connect");
    SignalProbe lowSpace(L"PB_EVT_LOW_MEM");
    BufferFile buffer(bufferPath());
    const uint32_t half = (10000 - 0x400) * 5 / 10;
    int signalsPastHalf = 0;
    for (int i = 0; buffer.field(PB_WRITE_OFFSET) < 8000; ++i) {
        logText("filling the buffer with record " + std::to_string(i));
        bool past = buffer.field(PB_WRITE_OFFSET) > half;
        EXPECT_EQ(lowSpace.fired(), past) << "write offset " << buffer.field(PB_WRITE_OFFSET);
        signalsPastHalf += past;
    }
    EXPECT_GE(signalsPastHalf, 3);
}

TEST_F(TraceLogTest, ARecordThatDoesNotFitIsDroppedCountedAndSignalled) {
    withViewer(20000);
    logText("");
    BufferFile buffer(bufferPath());
    uint32_t emptyRecordBytes = buffer.records()[0].size;
    uint32_t dataSize = buffer.field(PB_DATA_SIZE);
    buffer.setPair(PB_WRITE_OFFSET, dataSize - 1000);
    SignalProbe lowSpace(L"PB_EVT_LOW_MEM");
    lowSpace.fired();
    LONG droppedBefore = pbStatistics().droppedRecords;

    // 1000 bytes left: a record of 996 bytes fits, one of 998 (or more) does not.
    // Record bytes for a text of n characters: fixed part + 2n + 2.
    wchar_t self[MAX_PATH];
    uint32_t pathBytes = (GetModuleFileNameW(nullptr, self, MAX_PATH) + 1) * 2;
    uint32_t fixedBytes = 0x40 + 3 * 2 + 2 * pathBytes + sizeof(L"client_test.cpp");
    ASSERT_EQ(emptyRecordBytes, (fixedBytes + 2 + 3) / 4 * 4);
    auto textFor = [&](uint32_t recordBytes) { return std::string((recordBytes - fixedBytes - 2) / 2, 'x'); };
    logText(textFor(998));
    EXPECT_EQ(buffer.field(PB_WRITE_OFFSET), dataSize - 1000);
    EXPECT_EQ(buffer.field(PB_DROPPED), 1u);
    EXPECT_EQ(pbStatistics().droppedRecords, droppedBefore + 1);
    EXPECT_TRUE(lowSpace.fired());
    EXPECT_NE(pbRead64(buffer.bytes() + PB_FIRST_DROP_TIME), 0u);
    EXPECT_EQ(pbRead64(buffer.bytes() + PB_LATEST_DROP_TIME), 0u);

    logText(textFor(996));
    EXPECT_EQ(buffer.field(PB_WRITE_OFFSET), dataSize - 4);
    EXPECT_EQ(buffer.field(PB_DROPPED), 1u);

    logText("no room at all");
    EXPECT_EQ(buffer.field(PB_DROPPED), 2u);
    EXPECT_NE(pbRead64(buffer.bytes() + PB_LATEST_DROP_TIME), 0u);
    EXPECT_EQ(pbRead64(buffer.bytes() + PB_LAST_TIME), pbRead64(buffer.bytes() + PB_LATEST_DROP_TIME));
    EXPECT_TRUE(buffer.valid());
}

TEST_F(TraceLogTest, ShutdownReleasesEverythingAndLaterCallsReturn) {
    withViewer();
    logText("before");
    HANDLE lock = OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\PB_MTX");
    EXPECT_NE(lock, nullptr);
    CloseHandle(lock);
    PBShutdown(1000);
    EXPECT_EQ(OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\PB_MTX"), nullptr);
    logText("after");
    EXPECT_FALSE(pbConnected());
    BufferFile buffer(bufferPath());
    EXPECT_EQ(buffer.records().size(), 1u);
}

namespace {

DWORD WINAPI failingWait(HANDLE, DWORD) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}

LONG WINAPI programFilter(EXCEPTION_POINTERS*) { return EXCEPTION_CONTINUE_SEARCH; }

}  // namespace

TEST_F(TraceLogTest, AFailedLockWaitIsCountedWithItsTimeAndError) {
    withViewer();
    logText("connect");
    SignalProbe newMessages(L"PB_EVT_NEW_MSGS");
    newMessages.fired();
    LONG failuresBefore = pbStatistics().lockFailures;
    BufferFile buffer(bufferPath());
    {
        PlatformOverride wait;
        wait.api().waitForSingleObject = failingWait;
        logText("lost 1");
        EXPECT_TRUE(newMessages.fired());
        EXPECT_EQ(buffer.field(PB_LOCK_FAILURES), 1u);
        EXPECT_NE(pbRead64(buffer.bytes() + PB_FIRST_LOCK_FAILURE_TIME), 0u);
        EXPECT_EQ(pbRead64(buffer.bytes() + PB_LATEST_LOCK_FAILURE_TIME), 0u);
        int32_t firstMinutes = int32_t(buffer.field(PB_LOCK_FAILURE_MINUTES));
        logText("lost 2");
        EXPECT_EQ(buffer.field(PB_LOCK_FAILURES), 2u);
        EXPECT_NE(pbRead64(buffer.bytes() + PB_LATEST_LOCK_FAILURE_TIME), 0u);
        EXPECT_EQ(int32_t(buffer.field(PB_LOCK_FAILURE_MINUTES)), 5 * firstMinutes);
        EXPECT_EQ(buffer.field(PB_LOCK_FAILURE_ERROR), DWORD(ERROR_INVALID_HANDLE));
    }
    EXPECT_EQ(pbStatistics().lockFailures, failuresBefore + 2);
    EXPECT_TRUE(buffer.valid());
    logText("heard again");
    auto records = buffer.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].message, L"heard again");
}

TEST_F(TraceLogTest, TheProgramsFaultFilterIsBackAfterEveryCall) {
    withViewer();
    LPTOP_LEVEL_EXCEPTION_FILTER before = SetUnhandledExceptionFilter(programFilter);
    logText("one");
    PBComponent component;
    PBSetComponent(&component, "Name", "Key", TRUE, 0);
    logText("two");
    EXPECT_EQ(SetUnhandledExceptionFilter(before), programFilter);
}

TEST_F(TraceLogTest, ShutdownLeavesTheConnectionToACallStillRunning) {
    withViewer();
    logText("connect");
    // Another process holds the buffer lock, so a log call has to wait.
    HANDLE foreign = OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\PB_MTX");
    ASSERT_NE(foreign, nullptr);
    ASSERT_EQ(WaitForSingleObject(foreign, 1000), WAIT_OBJECT_0);
    std::thread waiting([] { logText("waited for the lock"); });
    while (pbStatistics().callsInProgress == 0) Sleep(1);
    Sleep(200);  // from counting itself to waiting for the lock
    PBShutdown(50);
    logText("after shutdown");  // returns at once
    ReleaseMutex(foreign);
    waiting.join();
    PBShutdown(1000);  // now nothing runs: closes
    CloseHandle(foreign);
    EXPECT_EQ(OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\PB_MTX"), nullptr);
    BufferFile buffer(bufferPath());
    auto records = buffer.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].message, L"waited for the lock");
}

namespace {

// Shuts the client down from inside its wait for the buffer lock: the moment
// another thread's shutdown would land between connecting and locking.
DWORD WINAPI shutdownThenWait(HANDLE lock, DWORD ms) {
    PBShutdown(0);
    return WaitForSingleObject(lock, ms);
}

}  // namespace

TEST_F(TraceLogTest, ShutdownDuringANameChangeLeavesTheConnectionToIt) {
    withViewer();
    logText("connect");
    const LONG failuresBefore = pbStatistics().lockFailures;
    PBComponent component;
    {
        PlatformOverride wait;
        wait.api().waitForSingleObject = shutdownThenWait;
        PBSetComponent(&component, "Name", "Key", TRUE, 0);
    }
    EXPECT_EQ(std::wstring(L"Name"), component.name);
    EXPECT_EQ(pbStatistics().lockFailures, failuresBefore);
    PBShutdown(1000);
    EXPECT_EQ(OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\PB_MTX"), nullptr) << "the later shutdown closes";
}
