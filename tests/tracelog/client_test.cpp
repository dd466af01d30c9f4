// The trace-log client against a real buffer file, real named objects and
// the registry: connecting, sizing, header repair, writing, dropping,
// signals, time stamps and shutdown.
#include <cstring>
#include <thread>

#include "pbtestenv.h"
#include "platform/platform.h"

namespace {

const wchar_t kLock[] = L"Global\\PB_MTX";

bool lockExists() {
    HANDLE lock = OpenMutexW(SYNCHRONIZE, FALSE, kLock);
    if (lock) CloseHandle(lock);
    return lock != nullptr;
}

bool fileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring wide(const char* text) { return std::wstring(text, text + strlen(text)); }

}  // namespace

TEST_F(TraceLogTest, WithoutAUsableBufferDirectoryTheClientStaysOffUntilRestarted) {
    setViewerValue("IPC buffer directory", tempDir() + "\\" + std::string(260, 'x'));
    logText("too long for the file name");
    EXPECT_FALSE(pbConnected());
    EXPECT_TRUE(reports.empty());

    reconnect();
    deleteViewerKey();
    logText("nobody listens");
    EXPECT_FALSE(pbConnected());
    EXPECT_FALSE(lockExists());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].code, 201u);
    EXPECT_EQ(reports[0].detail, L"IPC buffer directory");
    withViewer();  // not read again before a restart
    logText("still nobody");
    EXPECT_FALSE(fileExists(bufferPath()));

    pbRestart();
    logText("now somebody");
    auto records = BufferFile(bufferPath()).records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].message, L"now somebody");
}

TEST_F(TraceLogTest, BufferSizeOutsideTheRangeGivesTheDefaultAndIsReported) {
    struct Case {
        const char* configured;
        uint64_t fileBytes;
        bool reported;
    } cases[] = {{"5000", 1000000, true},  {"100000000", 100000000, false}, {"10000", 10000, false},
                 {"9999", 1000000, true},  {"100000001", 1000000, true},    {"12 kB", 1000000, true},
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
        BufferFile buffer(bufferPath());
        EXPECT_EQ(buffer.fileBytes(), c.fileBytes);
        EXPECT_EQ(buffer.field(PB_DATA_SIZE), c.fileBytes - kPBHeaderBytes);
        EXPECT_EQ(reported(202), c.reported);
        EXPECT_EQ(buffer.records().size(), 1u);
    }
}

TEST_F(TraceLogTest, HeaderResetReasonsFollowWhatHappenedToTheFile) {
    enum { kKeep, kDamage, kEmpty };
    // Each step: the file changed while nobody had it open, then reopened at a new size.
    struct Step {
        const char* what;
        int change;
        DWORD bufferBytes;
        uint32_t reason;
        size_t records;
    } steps[] = {{"new file", kKeep, 100000, PB_RESET_NEW_FILE, 1},
                 {"damaged header", kDamage, 100000, PB_RESET_INVALID_HEADER, 1},
                 {"smaller with records", kKeep, 50000, PB_RESET_SHRUNK, 1},
                 {"larger keeps the records", kKeep, 60000, PB_RESET_SHRUNK, 2},
                 {"smaller while empty", kEmpty, 40000, PB_RESET_NONE, 1}};
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        reconnect();
        if (s.change != kKeep) {
            BufferFile before(bufferPath());
            if (s.change == kDamage) before.bytes()[PB_MAGIC] ^= 0x01;
            if (s.change == kEmpty) before.setPair(PB_WRITE_OFFSET, 0);
        }
        withViewer(s.bufferBytes);
        logText(s.what);
        BufferFile buffer(bufferPath());
        EXPECT_EQ(buffer.fileBytes(), s.bufferBytes);
        EXPECT_EQ(buffer.field(PB_DATA_SIZE), s.bufferBytes - kPBHeaderBytes);
        EXPECT_EQ(buffer.field(PB_RESET_REASON), s.reason);
        auto records = buffer.records();
        ASSERT_EQ(records.size(), s.records);
        EXPECT_EQ(records.back().message, wide(s.what));
    }
}

TEST_F(TraceLogTest, NextBufferDirectoryMovesTheBufferOnce) {
    const std::string next = tempPath("next");
    ASSERT_TRUE(CreateDirectoryA(next.c_str(), nullptr));
    withViewer();
    setViewerValue("Next IPC buffer directory", next);
    logText("moved");
    EXPECT_FALSE(fileExists(bufferPath()));
    EXPECT_EQ(readViewerValue("IPC buffer directory"), next);
    EXPECT_EQ(readViewerValue("Previous IPC buffer directory"), tempDir());
    EXPECT_EQ(readViewerValue("Next IPC buffer directory"), "");
    reconnect();  // releases the file before looking at it
    BufferFile buffer(next + "\\PBIPC.pbd");
    EXPECT_EQ(buffer.field(PB_RESET_REASON), 0u) << "a file reached through a move";

    // A value naming no directory is deleted and reported; the old directory stays.
    setViewerValue("Next IPC buffer directory", tempPath("missing"));
    logText("stayed");
    EXPECT_EQ(readViewerValue("Next IPC buffer directory"), "");
    EXPECT_TRUE(reported(203));
    EXPECT_EQ(readViewerValue("IPC buffer directory"), next);
    EXPECT_EQ(buffer.records().size(), 2u);
}

TEST_F(TraceLogTest, WhileAnotherProcessHasTheBufferOpenItsHeaderIsLeftAlone) {
    withViewer(20000);
    logText("made");
    reconnect();
    HANDLE viewerLock = CreateMutexW(nullptr, FALSE, kLock);  // this client is not the first opener
    BufferFile(bufferPath()).bytes()[PB_MAGIC + 1] ^= 0x40;
    withViewer(30000);
    const LONG dropped = pbStatistics().droppedRecords;
    logText("refused");
    EXPECT_TRUE(pbConnected());
    EXPECT_EQ(pbStatistics().droppedRecords, dropped + 1);
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
    EXPECT_TRUE(reported(401));
    EXPECT_FALSE(fileExists(bufferPath()));
    CloseHandle(viewerLock);
}

TEST_F(TraceLogTest, VersionFieldsAreWidenedToBracketTheClient) {
    withViewer();
    logText("one");
    BufferFile buffer(bufferPath());
    struct Case {
        uint32_t high, low, widenedHigh, widenedLow;
    } cases[] = {{0x01090000, 0x01070000, 0x01090000, 0x01050000}, {0x01000000, 0x01000000, 0x01050000, 0x01000000}};
    for (const Case& c : cases) {
        buffer.setPair(PB_VERSION_HIGH, c.high);
        buffer.setPair(PB_VERSION_LOW, c.low);
        logText("two");
        EXPECT_EQ(buffer.field(PB_VERSION_HIGH), c.widenedHigh);
        EXPECT_EQ(buffer.field(PB_VERSION_LOW), c.widenedLow);
    }
    EXPECT_EQ(buffer.records().size(), 3u) << "a valid header is kept";
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
    const uint64_t start = 133000000000000000ull;
    // A frozen clock, a step back by less than 0.1 s, one by more (believed), a step forward.
    const int64_t steps[] = {0, 0, -999000, -1000000, 20000000};
    const uint64_t expected[] = {start, start + 50, start + 100, start - 1999000, start + 18001000};
    withViewer();
    g_frozenTime = start;
    for (int64_t step : steps) {
        g_frozenTime += step;
        logText("tick");
    }
    BufferFile buffer(bufferPath());
    auto r = buffer.records();
    ASSERT_EQ(r.size(), 5u);
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(r[i].time, expected[i]) << i;
    EXPECT_EQ(buffer.time(PB_LAST_TIME), r[4].time);
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
    auto r = BufferFile(bufferPath()).records();
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[1].message, L"heard");
    EXPECT_EQ(r[1].componentName, L"Quiet");
    EXPECT_EQ(r[1].componentKey, L"quiet");
    EXPECT_EQ(r[2].level, 0u) << "unknown levels with low bits become 0";
    EXPECT_EQ(r[3].level, 0x20000u);
}

TEST_F(TraceLogTest, RecordsCarryTheirFieldsAndTheHeaderSumCoversThem) {
    withViewer();
    logText("value 42 of answer");
    traceLineW(L"wide.cpp", 99, TRACE_ERROR, nullptr, nullptr, L"wide %ls \u00e9", L"text");
    logText("value 42 of answer!");  // one character more: 2 bytes further
    BufferFile buffer(bufferPath());
    auto r = buffer.records();
    ASSERT_EQ(r.size(), 3u);
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
    EXPECT_EQ(buffer.field(PB_SUM), pbWordSum(buffer.bytes() + header.dataOffset, header.writeOffset));
}

TEST_F(TraceLogTest, CommitsPastHalfSignalLowSpaceAndARecordThatDoesNotFitIsDropped) {
    withViewer(10000);
    logText("");
    SignalProbe lowSpace(L"PB_EVT_LOW_MEM");
    BufferFile buffer(bufferPath());
    const uint32_t dataSize = buffer.field(PB_DATA_SIZE);
    int signalsPastHalf = 0;
    while (buffer.field(PB_WRITE_OFFSET) < 8000) {
        logText("filling the buffer with a record");
        bool past = buffer.field(PB_WRITE_OFFSET) > dataSize / 2;
        EXPECT_EQ(lowSpace.fired(), past) << "write offset " << buffer.field(PB_WRITE_OFFSET);
        signalsPastHalf += past;
    }
    EXPECT_GE(signalsPastHalf, 3);

    // 1000 bytes left: a record of 996 bytes fits, one of 998 (rounded to 1000 + 4) does not.
    buffer.setPair(PB_WRITE_OFFSET, dataSize - 1000);
    const LONG dropped = pbStatistics().droppedRecords;
    // Record bytes for a text of n characters: the fixed part (empty names, two paths) + 2n + 2.
    wchar_t self[MAX_PATH];
    const uint32_t pathBytes = (GetModuleFileNameW(nullptr, self, MAX_PATH) + 1) * 2;
    const uint32_t fixedBytes = 0x40 + 3 * 2 + 2 * pathBytes + sizeof(L"log.cpp");
    auto textFor = [&](uint32_t recordBytes) { return std::string((recordBytes - fixedBytes - 2) / 2, 'x'); };
    logText(textFor(998));
    EXPECT_EQ(buffer.field(PB_WRITE_OFFSET), dataSize - 1000);
    EXPECT_EQ(buffer.field(PB_DROPPED), 1u);
    EXPECT_EQ(pbStatistics().droppedRecords, dropped + 1);
    EXPECT_TRUE(lowSpace.fired());
    EXPECT_NE(buffer.time(PB_FIRST_DROP_TIME), 0u);
    EXPECT_EQ(buffer.time(PB_LATEST_DROP_TIME), 0u);

    logText(textFor(996));
    EXPECT_EQ(buffer.field(PB_WRITE_OFFSET), dataSize - 4);
    EXPECT_EQ(buffer.field(PB_DROPPED), 1u);

    logText("no room at all");
    EXPECT_EQ(buffer.field(PB_DROPPED), 2u);
    EXPECT_NE(buffer.time(PB_LATEST_DROP_TIME), 0u);
    EXPECT_EQ(buffer.time(PB_LAST_TIME), buffer.time(PB_LATEST_DROP_TIME));
    EXPECT_TRUE(buffer.valid());
}

namespace {

DWORD WINAPI failingWait(HANDLE, DWORD) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}

// Shuts the client down from inside its wait for the buffer lock: the moment
// another thread's shutdown would land between connecting and locking.
DWORD WINAPI shutdownThenWait(HANDLE lock, DWORD ms) {
    PBShutdown(0);
    return WaitForSingleObject(lock, ms);
}

}  // namespace

TEST_F(TraceLogTest, AFailedLockWaitIsCountedWithItsTimeAndError) {
    withViewer();
    logText("connect");
    SignalProbe newMessages(L"PB_EVT_NEW_MSGS");
    newMessages.fired();
    const LONG failures = pbStatistics().lockFailures;
    BufferFile buffer(bufferPath());
    {
        PlatformOverride wait;
        wait.api().waitForSingleObject = failingWait;
        logText("lost 1");
        EXPECT_TRUE(newMessages.fired());
        EXPECT_NE(buffer.time(PB_FIRST_LOCK_FAILURE_TIME), 0u);
        EXPECT_EQ(buffer.time(PB_LATEST_LOCK_FAILURE_TIME), 0u);
        const int32_t firstMinutes = int32_t(buffer.field(PB_LOCK_FAILURE_MINUTES));
        logText("lost 2");
        EXPECT_EQ(buffer.field(PB_LOCK_FAILURES), 2u);
        EXPECT_NE(buffer.time(PB_LATEST_LOCK_FAILURE_TIME), 0u);
        EXPECT_EQ(int32_t(buffer.field(PB_LOCK_FAILURE_MINUTES)), 5 * firstMinutes);
        EXPECT_EQ(buffer.field(PB_LOCK_FAILURE_ERROR), DWORD(ERROR_INVALID_HANDLE));
    }
    EXPECT_EQ(pbStatistics().lockFailures, failures + 2);
    logText("heard again");
    auto records = buffer.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].message, L"heard again");
}

TEST_F(TraceLogTest, ShutdownLeavesTheConnectionToACallStillRunningAndLaterCallsReturn) {
    withViewer();
    logText("connect");
    // Another process holds the buffer lock, so a log call has to wait.
    HANDLE foreign = OpenMutexW(SYNCHRONIZE, FALSE, kLock);
    ASSERT_EQ(WaitForSingleObject(foreign, 1000), WAIT_OBJECT_0);
    std::thread waiting([] { logText("waited for the lock"); });
    while (pbStatistics().callsInProgress == 0) Sleep(1);
    Sleep(200);  // from counting itself to waiting for the lock
    PBShutdown(50);
    logText("after shutdown");  // returns at once
    ReleaseMutex(foreign);
    waiting.join();
    CloseHandle(foreign);
    PBShutdown(1000);  // now nothing runs: closes
    EXPECT_FALSE(lockExists());
    logText("after the last shutdown");
    EXPECT_FALSE(pbConnected());
    auto records = BufferFile(bufferPath()).records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].message, L"waited for the lock");
}

TEST_F(TraceLogTest, ShutdownDuringANameChangeLeavesTheConnectionToIt) {
    withViewer();
    logText("connect");
    const LONG failures = pbStatistics().lockFailures;
    PBComponent component;
    {
        PlatformOverride wait;
        wait.api().waitForSingleObject = shutdownThenWait;
        PBSetComponent(&component, "Name", "Key", TRUE, 0);
    }
    EXPECT_EQ(std::wstring(L"Name"), component.name);
    EXPECT_EQ(pbStatistics().lockFailures, failures);
    PBShutdown(1000);
    EXPECT_FALSE(lockExists()) << "the later shutdown closes";
}
