// Components, contexts, their thread and process defaults, the client's own
// "API" reports, scopes, and the record encodings.
#include <random>
#include <thread>
#include <vector>

#include "pbtestenv.h"

namespace {

std::vector<std::wstring> apiReports(const std::vector<PBRecord>& records) {
    std::vector<std::wstring> found;
    for (const PBRecord& r : records)
        if (r.level == kPBLevelApi && r.componentName == L"API") found.push_back(r.message);
    return found;
}

LONG WINAPI programFilter(EXCEPTION_POINTERS*) { return EXCEPTION_CONTINUE_SEARCH; }

}  // namespace

TEST_F(TraceLogTest, ThreadDefaultsWinOverProcessDefaultsAndAreRemovable) {
    withViewer();
    PBComponent processWide, threadOnly;
    PBContext job;
    PBSetComponent(&processWide, L"Host", L"host", TRUE, 0);
    PBSetComponent(&threadOnly, "Engine", "engine", TRUE, 0);
    PBSetContext(&job, "Running", TRUE, 0);
    EXPECT_EQ(PBSetDefaultComponent(&processWide, PB_DEFAULT_PROCESS), nullptr);
    EXPECT_EQ(PBSetDefaultComponent(&threadOnly, PB_DEFAULT_THREAD), nullptr);
    EXPECT_EQ(PBSetDefaultContext(&job, PB_DEFAULT_THREAD), nullptr);
    logText("from this thread");
    std::thread([] { logText("from another thread"); }).join();
    EXPECT_EQ(PBSetDefaultComponent(nullptr, PB_DEFAULT_THREAD), &threadOnly);
    EXPECT_EQ(PBSetDefaultContext(nullptr, PB_DEFAULT_THREAD), &job);
    logText("thread default removed");
    EXPECT_EQ(PBSetDefaultComponent(nullptr, PB_DEFAULT_PROCESS), &processWide);

    auto r = BufferFile(bufferPath()).records();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].componentKey, L"engine");
    EXPECT_EQ(r[0].contextName, L"Running");
    EXPECT_EQ(r[1].componentName, L"Host");
    EXPECT_EQ(r[1].contextName, L"");
    EXPECT_EQ(r[2].componentName, L"Host");
}

TEST_F(TraceLogTest, SixtyFourThreadsFillTheDefaultTableAndEndedThreadsFreeTheirSlots) {
    withViewer();
    PBComponent component;
    PBSetComponent(&component, "Worker", "w", TRUE, 0);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<std::thread> workers;
    std::atomic<int> ready{0};
    for (int i = 0; i < 64; ++i)
        workers.emplace_back([&] {
            PBSetDefaultComponent(&component, PB_DEFAULT_THREAD);
            ready.fetch_add(1);
            WaitForSingleObject(release, INFINITE);
        });
    while (ready.load() < 64) Sleep(1);
    EXPECT_EQ(PBSetDefaultComponent(&component, PB_DEFAULT_THREAD), nullptr);
    logText("no default here");
    auto r = BufferFile(bufferPath()).records();
    EXPECT_EQ(apiReports(r), std::vector<std::wstring>{L"Request for thread default component or context was not "
                                                       L"satisfied.  Too many concurrent threads."});
    EXPECT_EQ(r.back().componentName, L"");
    SetEvent(release);
    for (std::thread& t : workers) t.join();
    CloseHandle(release);
    PBSetDefaultComponent(&component, PB_DEFAULT_THREAD);
    logText("slot reused");
    PBSetDefaultComponent(nullptr, PB_DEFAULT_THREAD);
    r = BufferFile(bufferPath()).records();
    EXPECT_EQ(apiReports(r).size(), 1u);
    EXPECT_EQ(r.back().componentName, L"Worker");
}

TEST_F(TraceLogTest, MisuseIsReportedAsApiRecordsAndNamesAreCut) {
    PBComponent off;
    PBSetComponent(&off, "Name", "Key", TRUE, 0x10);
    EXPECT_STREQ(off.name, L"") << "names stay empty while logging is off";

    pbRestart();
    withViewer();
    LPTOP_LEVEL_EXCEPTION_FILTER before = SetUnhandledExceptionFilter(programFilter);
    PBSetComponent(static_cast<PBComponent*>(nullptr), "x", "y", TRUE, 0);
    EXPECT_EQ(PBSetDefaultComponent(nullptr, 7), nullptr);
    void* readOnly = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READONLY);
    PBSetContext(static_cast<PBContext*>(readOnly), "z", TRUE, 0);
    VirtualFree(readOnly, 0, MEM_RELEASE);
    PBComponent fromResource, longName;
    PBSetComponentId(&fromResource, 0xBEEF, L"key", TRUE, 0);
    EXPECT_STREQ(fromResource.name, L"");
    EXPECT_STREQ(fromResource.key, L"key");
    PBSetComponent(&longName, std::string(100, 'n').c_str(), "Key", FALSE, 0);
    EXPECT_EQ(std::wstring(longName.name), std::wstring(63, L'n'));
    EXPECT_EQ(SetUnhandledExceptionFilter(before), programFilter) << "the program's filter is back";

    auto reports = apiReports(BufferFile(bufferPath()).records());
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_EQ(reports[0], L"PBSetComponent / PBSetContext called with target pointer NULL.");
    EXPECT_EQ(reports[1], L"Invalid option 7 specified to PBSetDefaultComponent / PBSetDefaultContext.");
    EXPECT_EQ(reports[2].rfind(L"Access violation in PBSetContext, pcx 0x", 0), 0u);
    EXPECT_EQ(reports[3], L"Unable to load resource string.");
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
    uint8_t words[8] = {};
    pbEncodeWords(words, 8);
    // n = 2: word 0 gets G(2) = g(2) | g(0) << 16.
    EXPECT_EQ(pbRead32(words), uint32_t((2 * 0x6E2B + 0x5C47) & 0xFFFF) | 0x5C47u << 16);
    uint8_t bytes[1] = {0};
    pbEncodeBytes(bytes, 1);
    EXPECT_EQ(bytes[0], 0x72);  // g8(1) = 0x2B + 0x47

    std::mt19937 random(12345);
    for (int round = 0; round < 64; ++round) {
        std::vector<uint8_t> plain(4 * (1 + random() % 64));
        for (uint8_t& b : plain) b = uint8_t(random());
        std::vector<uint8_t> body = plain;
        bool asWords = round % 2;
        (asWords ? pbEncodeWords : pbEncodeBytes)(body.data(), body.size());
        ASSERT_NE(body, plain);
        (asWords ? pbDecodeWords : pbDecodeBytes)(body.data(), body.size());
        ASSERT_EQ(body, plain) << "round " << round;
    }
}

TEST(PBEncoding, DecoderRejectsWhatIsNoRecordAndBoundsItsStrings) {
    std::vector<uint8_t> record(0x48, 0);
    pbWrite32(&record[0], 0x48);
    pbWrite32(&record[PB_REC_MESSAGE], 0x44);        // "AB" without terminator up to the end
    pbWrite32(&record[PB_REC_SOURCE_FILE], 0x1000);  // outside the record
    record[0x44] = 'A';
    record[0x46] = 'B';
    PBRecord decoded;
    EXPECT_EQ(pbDecodeRecord(record.data(), record.size(), &decoded), 0x48u);
    EXPECT_EQ(decoded.message, L"AB");
    EXPECT_EQ(decoded.sourceFile, L"");
    EXPECT_EQ(pbDecodeRecord(record.data(), 0x44, &decoded), 0u) << "longer than what is left";
    for (uint32_t size : {0x46u, 0x3cu}) {  // not 4-aligned, shorter than the fixed part
        pbWrite32(&record[0], size);
        EXPECT_EQ(pbDecodeRecord(record.data(), record.size(), &decoded), 0u) << size;
    }
}
