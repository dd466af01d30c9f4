// Components, contexts, their thread and process defaults, the client's own
// "API" reports, and scopes.
#include <thread>
#include <vector>

#include "pbtestenv.h"
#include "tracelog/trace.h"

namespace {

std::vector<PBRecord> apiReports(const BufferFile& buffer) {
    std::vector<PBRecord> found;
    for (const PBRecord& r : buffer.records())
        if (r.level == kPBLevelApi && r.componentName == L"API") found.push_back(r);
    return found;
}

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
    TRACE(TRACE_INFO, "from this thread");
    std::thread other([] { TRACE(TRACE_INFO, "from another thread"); });
    other.join();
    EXPECT_EQ(PBSetDefaultComponent(nullptr, PB_DEFAULT_THREAD), &threadOnly);
    EXPECT_EQ(PBSetDefaultContext(nullptr, PB_DEFAULT_THREAD), &job);
    TRACE(TRACE_INFO, "thread default removed");
    EXPECT_EQ(PBSetDefaultComponent(nullptr, PB_DEFAULT_PROCESS), &processWide);

    BufferFile buffer(bufferPath());
    auto r = buffer.records();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].componentName, L"Engine");
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
    TRACE(TRACE_INFO, "no default here");
    {
        BufferFile buffer(bufferPath());
        auto reports = apiReports(buffer);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].message,
                  L"Request for thread default component or context was not satisfied.  Too many concurrent threads.");
        EXPECT_EQ(buffer.records().back().componentName, L"");
    }
    SetEvent(release);
    for (std::thread& t : workers) t.join();
    CloseHandle(release);
    PBSetDefaultComponent(&component, PB_DEFAULT_THREAD);
    TRACE(TRACE_INFO, "slot reused");
    PBSetDefaultComponent(nullptr, PB_DEFAULT_THREAD);
    BufferFile buffer(bufferPath());
    EXPECT_EQ(apiReports(buffer).size(), 1u);
    EXPECT_EQ(buffer.records().back().componentName, L"Worker");
}

TEST_F(TraceLogTest, MisuseIsReportedAsApiRecords) {
    withViewer();
    PBSetComponent(static_cast<PBComponent*>(nullptr), "x", "y", TRUE, 0);
    EXPECT_EQ(PBSetDefaultComponent(nullptr, 7), nullptr);
    void* readOnly = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READONLY);
    PBSetContext(static_cast<PBContext*>(readOnly), "z", TRUE, 0);
    PBComponent fromResource;
    PBSetComponentId(&fromResource, 0xBEEF, L"key", TRUE, 0);
    VirtualFree(readOnly, 0, MEM_RELEASE);

    BufferFile buffer(bufferPath());
    auto reports = apiReports(buffer);
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_EQ(reports[0].message, L"PBSetComponent / PBSetContext called with target pointer NULL.");
    EXPECT_EQ(reports[1].message, L"Invalid option 7 specified to PBSetDefaultComponent / PBSetDefaultContext.");
    EXPECT_EQ(reports[2].message.rfind(L"Access violation in PBSetContext, pcx 0x", 0), 0u) << "got "
        << std::string(reports[2].message.begin(), reports[2].message.end());
    EXPECT_EQ(reports[3].message, L"Unable to load resource string.");
    EXPECT_STREQ(fromResource.name, L"");
    EXPECT_STREQ(fromResource.key, L"key");
}

TEST_F(TraceLogTest, DescriptorNamesAreCutAndStayEmptyWhileLoggingIsOff) {
    PBComponent off;
    PBSetComponent(&off, "Name", "Key", TRUE, 0x10);
    EXPECT_STREQ(off.name, L"");
    EXPECT_STREQ(off.key, L"");

    pbRestart();
    withViewer();
    PBComponent on;
    PBContext context;
    PBSetComponent(&on, std::string(100, 'n').c_str(), "Key", FALSE, 0);
    PBSetContext(&context, std::wstring(70, L'c').c_str(), TRUE, 0);
    EXPECT_EQ(std::wstring(on.name), std::wstring(63, L'n'));
    EXPECT_STREQ(on.key, L"Key");
    EXPECT_EQ(std::wstring(context.name), std::wstring(63, L'c'));
}

TEST_F(TraceLogTest, ScopesLogEnteringAndLeavingWithTheSameFieldsAlsoOnAnException) {
    withViewer();
    PBComponent component;
    PBSetComponent(&component, "Graph", "g", TRUE, 0);
    { PBTraceScope scope("fresh.cpp", 120, TRACE_SCOPE, "connectFilterToGraph", &component); }
    try {
        TraceScope scope("fresh.cpp", 300, "createMC_ME");
        throw 1;
    } catch (int) {
    }
    BufferFile buffer(bufferPath());
    auto r = buffer.records();
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0].message, L"Entering scope: connectFilterToGraph");
    EXPECT_EQ(r[1].message, L"Leaving scope: connectFilterToGraph");
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(r[i].line, 120u);
        EXPECT_EQ(r[i].level, uint32_t(TRACE_SCOPE));
        EXPECT_EQ(r[i].componentName, L"Graph");
        EXPECT_EQ(r[i].sourceFile, L"fresh.cpp");
    }
    EXPECT_EQ(r[2].message, L"Entering scope: createMC_ME");
    EXPECT_EQ(r[3].message, L"Leaving scope: createMC_ME");
    EXPECT_EQ(r[3].line, 300u);
}

// The body encodings: a known vector each, and round trips through the
// decoder the viewer uses.
TEST(PBEncoding, KnownVectors) {
    uint8_t words[8] = {};
    pbEncodeWords(words, 8);
    // n = 2: word 0 gets G(2) = g(2) | g(0) << 16.
    EXPECT_EQ(pbRead32(words), uint32_t((2 * 0x6E2B + 0x5C47) & 0xFFFF) | 0x5C47u << 16);
    uint8_t bytes[1] = {0};
    pbEncodeBytes(bytes, 1);
    EXPECT_EQ(bytes[0], 0x72);  // g8(1) = 0x2B + 0x47
}

TEST(PBEncoding, RecordsRoundTripThroughTheViewersDecoder) {
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> record(0x40 + 4 * (next() % 64));
        for (uint8_t& b : record) b = uint8_t(next() >> 16);
        pbWrite32(&record[0], uint32_t(record.size()));
        std::vector<uint8_t> plain = record;
        uint16_t encoding = round % 2 ? kPBEncodingWords : kPBEncodingBytes;
        record[PB_REC_ENCODING] = uint8_t(encoding);
        record[PB_REC_ENCODING + 1] = 0;
        plain[PB_REC_ENCODING] = record[PB_REC_ENCODING];
        plain[PB_REC_ENCODING + 1] = 0;
        size_t bodyBytes = record.size() - kPBBodyOffset;
        if (encoding == kPBEncodingWords) pbEncodeWords(&record[kPBBodyOffset], bodyBytes);
        else pbEncodeBytes(&record[kPBBodyOffset], bodyBytes);
        ASSERT_NE(record, plain);
        PBRecord decoded;
        ASSERT_EQ(pbDecodeRecord(record.data(), record.size(), &decoded), record.size());
        EXPECT_EQ(decoded.level, pbRead32(&plain[PB_REC_LEVEL]));
        EXPECT_EQ(decoded.line, pbRead32(&plain[PB_REC_LINE]));
        EXPECT_EQ(decoded.processId, pbRead32(&plain[PB_REC_PROCESS]));
        EXPECT_EQ(decoded.threadId, pbRead32(&plain[PB_REC_THREAD]));
        EXPECT_EQ(decoded.localMinutes, int16_t(plain[PB_REC_MINUTES] | plain[PB_REC_MINUTES + 1] << 8));
        std::vector<uint8_t> again = record;
        if (encoding == kPBEncodingWords) pbDecodeWords(&again[kPBBodyOffset], bodyBytes);
        else pbDecodeBytes(&again[kPBBodyOffset], bodyBytes);
        ASSERT_EQ(again, plain) << "round " << round;
    }
}

TEST(PBEncoding, DecoderRejectsWhatIsNoRecordAndBoundsItsStrings) {
    std::vector<uint8_t> record(0x48, 0);
    pbWrite32(&record[0], 0x48);
    pbWrite32(&record[PB_REC_MESSAGE], 0x44);  // "AB" without terminator up to the end
    pbWrite32(&record[PB_REC_SOURCE_FILE], 0x1000);  // outside the record
    record[0x44] = 'A';
    record[0x46] = 'B';
    PBRecord decoded;
    EXPECT_EQ(pbDecodeRecord(record.data(), record.size(), &decoded), 0x48u);
    EXPECT_EQ(decoded.message, L"AB");
    EXPECT_EQ(decoded.sourceFile, L"");
    EXPECT_EQ(pbDecodeRecord(record.data(), 0x44, &decoded), 0u) << "longer than what is left";
    pbWrite32(&record[0], 0x46);
    EXPECT_EQ(pbDecodeRecord(record.data(), record.size(), &decoded), 0u) << "not 4-aligned";
    pbWrite32(&record[0], 0x3c);
    EXPECT_EQ(pbDecodeRecord(record.data(), record.size(), &decoded), 0u) << "shorter than the fixed part";
}
