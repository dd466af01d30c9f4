// The trace-log client against a real buffer file, real named objects and
// the registry: connecting, sizing, header repair, writing, dropping, signals,
// shutdown, scopes and encodings.
#include <cstring>
#include <thread>
#include <vector>

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
    BufferFile buffer(bufferPath());
    EXPECT_EQ(buffer.fileBytes(), 20000u) << "only the first opener sizes the file";
    EXPECT_FALSE(buffer.valid()) << "only the first opener repairs the header";
    CloseHandle(viewerLock);
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
    // Record bytes for a text of n characters: the fixed part (empty names, two paths) + 2n + 2.
    wchar_t self[MAX_PATH];
    const uint32_t pathBytes = (GetModuleFileNameW(nullptr, self, MAX_PATH) + 1) * 2;
    const uint32_t fixedBytes = 0x40 + 3 * 2 + 2 * pathBytes + sizeof(L"log.cpp");
    auto textFor = [&](uint32_t recordBytes) { return std::string((recordBytes - fixedBytes - 2) / 2, 'x'); };
    logText(textFor(998));
    EXPECT_EQ(buffer.field(PB_WRITE_OFFSET), dataSize - 1000);
    EXPECT_EQ(buffer.field(PB_DROPPED), 1u);
    EXPECT_TRUE(lowSpace.fired());

    logText(textFor(996));
    EXPECT_EQ(buffer.field(PB_WRITE_OFFSET), dataSize - 4);
    EXPECT_EQ(buffer.field(PB_DROPPED), 1u);

    logText("no room at all");
    EXPECT_EQ(buffer.field(PB_DROPPED), 2u);
    EXPECT_TRUE(buffer.valid());
}

namespace {

DWORD WINAPI failingWait(HANDLE, DWORD) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}

}  // namespace

TEST_F(TraceLogTest, AFailedLockWaitLosesOnlyThatRecordAndIsCountedWithItsError) {
    withViewer();
    logText("connect");
    const LONG failures = pbStatistics().lockFailures;
    BufferFile buffer(bufferPath());
    {
        PlatformOverride wait;
        wait.api().waitForSingleObject = failingWait;
        logText("lost 1");
        logText("lost 2");
    }
    EXPECT_EQ(buffer.field(PB_LOCK_FAILURES), 2u);
    EXPECT_EQ(buffer.field(PB_LOCK_FAILURE_ERROR), DWORD(ERROR_INVALID_HANDLE));
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

TEST_F(TraceLogTest, ScopesLogEnteringAndLeavingAlsoOnAnException) {
    withViewer();
    PBComponent component;
    PBSetComponent(&component, "Graph", "g", TRUE, 0);
    { PBTraceScope scope("fresh.cpp", 120, TRACE_SCOPE, "connectFilterToGraph", &component); }
    try {
        TraceScope scope("fresh.cpp", 300, "createMC_ME");
        throw 1;
    } catch (int) {
    }
    auto r = BufferFile(bufferPath()).records();
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[1].message, L"Leaving scope: connectFilterToGraph");
    EXPECT_EQ(r[1].line, 120u);
    EXPECT_EQ(r[1].componentName, L"Graph");
    EXPECT_EQ(r[2].message, L"Entering scope: createMC_ME");
    EXPECT_EQ(r[3].message, L"Leaving scope: createMC_ME");
}

TEST(PBEncoding, KnownVectorsAndRoundTrips) {
    uint8_t words[8] = {}, bytes[1] = {};
    pbEncodeWords(words, 8);
    // n = 2: word 0 gets G(2) = g(2) | g(0) << 16.
    EXPECT_EQ(pbRead32(words), uint32_t((2 * 0x6E2B + 0x5C47) & 0xFFFF) | 0x5C47u << 16);
    pbEncodeBytes(bytes, 1);
    EXPECT_EQ(bytes[0], 0x72);  // g8(1) = 0x2B + 0x47
    // The client writes words (read back by every record test); other writers' byte bodies only get decoded.
    std::vector<uint8_t> plain(257), body;
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(i * 37);
    body = plain;
    pbEncodeBytes(body.data(), body.size());
    pbDecodeBytes(body.data(), body.size());
    EXPECT_EQ(body, plain);
}

