// The buffer file belongs to another process that may write anything into
// its header. Hundreds of damaged headers, met while connecting (as first
// opener and while another process holds the buffer) and between writes:
// the client must not crash, and may change nothing but the header fields
// it owns and the data area the resulting header describes. Bytes past the
// end of the file, in the last mapped page, must stay untouched.
#include <random>
#include <string>

#include "pbtestenv.h"

namespace {

const uint32_t kFileBytes = 12000;  // not a multiple of the page size
const int kRounds = 400;

uint32_t interestingValue(std::mt19937& rng, uint32_t current) {
    const uint32_t dataBytes = kFileBytes - kPBHeaderBytes;
    switch (rng() % 10) {
    case 0: return 0;
    case 1: return 0xFFFFFFFF;
    case 2: return 0x80000000u + rng() % 16;
    case 3: return kFileBytes + rng() % 8 - 4;
    case 4: return dataBytes + rng() % 8 - 4;
    case 5: return current + rng() % 16 - 8;
    case 6: return rng() % kPBHeaderBytes;
    default: return rng();
    }
}

// Writes 1-4 header fields; most keep their complement, so the damage gets
// past the complement check and has to be caught by the bounds checks.
void damageHeader(uint8_t* view, std::mt19937& rng) {
    int fields = 1 + rng() % 4;
    for (int i = 0; i < fields; ++i) {
        uint32_t field = 8 * (rng() % kPBComplementPairs);
        uint32_t value = interestingValue(rng, pbRead32(view + field));
        pbWrite32(view + field, value);
        if (rng() % 4) pbWrite32(view + field + 4, ~value);
    }
    if (rng() % 3 == 0) {
        // A consistent data offset and size that still lie about the area.
        uint32_t dataOffset = rng() % 2 ? rng() % kFileBytes : kPBHeaderBytes + 4 * (rng() % 8) - 16;
        pbWritePair(view, PB_DATA_OFFSET, dataOffset);
        pbWritePair(view, PB_DATA_SIZE, kFileBytes - dataOffset);
        if (rng() % 2) pbWritePair(view, PB_WRITE_OFFSET, 4 * (rng() % 8));
    }
    if (rng() % 5 == 0) view[rng() % 0xa0] = uint8_t(rng());
}

// The header bytes the client may write: the complemented fields, the times
// and their minutes, the lock-failure error.
bool clientHeaderByte(uint32_t at) { return at < 0x80 || (at >= 0x90 && at < 0x98) || (at >= 0x9c && at < 0xa0); }

// Where the header, as the client left it, says the data area is: read
// here on its own rather than through the client's checks, so a fault in
// those checks cannot hide itself. Empty when the fields or their
// complements disagree with the file.
void dataAreaOf(const uint8_t* view, uint32_t* begin, uint32_t* end) {
    *begin = *end = 0;
    uint32_t offset = pbRead32(view + PB_DATA_OFFSET), size = pbRead32(view + PB_DATA_SIZE);
    bool complements = pbRead32(view + PB_DATA_OFFSET + 4) == ~offset && pbRead32(view + PB_DATA_SIZE + 4) == ~size;
    if (!complements || uint64_t(offset) + size != kFileBytes || offset < kPBHeaderBytes) return;
    *begin = offset;
    *end = offset + size;
}

}  // namespace

TEST_F(TraceLogTest, DamagedHeadersNeitherCrashTheClientNorLetItWriteOutsideItsRecords) {
    withViewer(kFileBytes);
    traceLineEx("fuzz", 1, 8, nullptr, nullptr, "start");
    BufferFile buffer(bufferPath());
    ASSERT_TRUE(buffer.ok());
    ASSERT_EQ(buffer.fileBytes(), kFileBytes);
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const uint32_t mappedBytes = (kFileBytes + system.dwPageSize - 1) / system.dwPageSize * system.dwPageSize;
    uint8_t* view = buffer.bytes();
    std::mt19937 rng(20261206);
    int validAfter = 0, recordsWritten = 0;

    for (int round = 0; round < kRounds; ++round) {
        int mode = round % 4;  // 0: first opener, 1: another holds the buffer, 2-3: connected
        if (mode <= 1) reconnect();
        HANDLE foreignLock = mode == 1 ? CreateMutexW(nullptr, FALSE, L"Global\\PB_MTX") : nullptr;
        if (round % 40 == 0) pbResetHeader(view, kFileBytes, 0);
        damageHeader(view, rng);
        std::vector<uint8_t> before(view, view + mappedBytes);
        for (int i = 0; i < 3; ++i)
            traceLineEx("fuzz", round, 8, nullptr, nullptr, "%s", std::string(rng() % 600, 'a' + i).c_str());
        if (foreignLock) CloseHandle(foreignLock);

        PBHeaderState after;
        bool valid = pbReadValidHeader(view, kFileBytes, kFileBytes, &after);
        validAfter += valid;
        uint32_t areaBegin, areaEnd;
        dataAreaOf(view, &areaBegin, &areaEnd);
        uint32_t firstChange = 0, changes = 0;
        for (uint32_t at = 0; at < mappedBytes; ++at) {
            if (view[at] == before[at] || clientHeaderByte(at)) continue;
            // A record abandoned half-way leaves bytes in the free part of the area.
            bool inDataArea = at >= areaBegin && at < areaEnd;
            if (!inDataArea && changes++ == 0) firstChange = at;
        }
        recordsWritten += valid && after.writeOffset > 0;
        ASSERT_EQ(changes, 0u) << "round " << round << ": first stray write at 0x" << std::hex << firstChange;
        for (uint32_t at = kFileBytes; at < mappedBytes; ++at) ASSERT_EQ(view[at], 0) << "past the file end";
    }
    // The damage did not simply switch the client off: many rounds ended
    // with a valid header and records in it.
    EXPECT_GT(validAfter, kRounds / 4);
    EXPECT_GT(recordsWritten, kRounds / 4);
    printf("rounds %d, valid afterwards %d, with records %d, drops %ld\n", kRounds, validAfter, recordsWritten,
           pbStatistics().droppedRecords);
}
