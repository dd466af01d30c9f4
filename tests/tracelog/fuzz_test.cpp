// The buffer file belongs to another process that may write anything into
// its header. Hundreds of damaged headers, met while connecting (as first
// opener and while another process holds the buffer) and between writes:
// the client must not crash, and may change nothing but the header fields
// it owns and the data area the resulting header describes, nor any byte
// past the file's end in the last mapped page.
#include <random>

#include "pbtestenv.h"

namespace {

const uint32_t kFileBytes = 12000;  // not a multiple of the page size

uint32_t interestingValue(std::mt19937& rng, uint32_t current) {
    const uint32_t values[] = {0, 0xFFFFFFFF, 0x80000000u + rng() % 16, kFileBytes + rng() % 8 - 4,
                             kFileBytes - kPBHeaderBytes + rng() % 8 - 4, current + rng() % 16 - 8,
                             rng() % kPBHeaderBytes};
    uint32_t pick = rng() % 10;
    return pick < 7 ? values[pick] : rng();
}

// Writes 1-4 header fields; most keep their complement, so the damage gets
// past the complement check and has to be caught by the bounds checks.
void damageHeader(uint8_t* view, std::mt19937& rng) {
    for (int fields = 1 + rng() % 4; fields > 0; --fields) {
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

// Whether the header, as the client left it, puts the byte in the data area:
// read here on its own rather than through the client's checks, so a fault
// in those checks cannot hide itself.
bool inDataArea(const uint8_t* view, uint32_t at) {
    uint32_t offset = pbRead32(view + PB_DATA_OFFSET), size = pbRead32(view + PB_DATA_SIZE);
    bool complements = pbRead32(view + PB_DATA_OFFSET + 4) == ~offset && pbRead32(view + PB_DATA_SIZE + 4) == ~size;
    return complements && uint64_t(offset) + size == kFileBytes && offset >= kPBHeaderBytes && at >= offset;
}

}  // namespace

TEST_F(TraceLogTest, DamagedHeadersNeitherCrashTheClientNorLetItWriteOutsideItsRecords) {
    const int rounds = 400;
    withViewer(kFileBytes);
    logText("start");
    BufferFile buffer(bufferPath());
    ASSERT_EQ(buffer.fileBytes(), kFileBytes);
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const uint32_t mappedBytes = (kFileBytes + system.dwPageSize - 1) / system.dwPageSize * system.dwPageSize;
    uint8_t* view = buffer.bytes();
    std::mt19937 rng(20261206);
    int recordsWritten = 0;
    for (int round = 0; round < rounds; ++round) {
        int mode = round % 4;  // 0: first opener, 1: another holds the buffer, 2-3: connected
        if (mode <= 1) reconnect();
        HANDLE foreignLock = mode == 1 ? CreateMutexW(nullptr, FALSE, L"Global\\PB_MTX") : nullptr;
        if (round % 40 == 0) pbResetHeader(view, kFileBytes, 0);
        damageHeader(view, rng);
        std::vector<uint8_t> before(view, view + mappedBytes);
        for (int i = 0; i < 3; ++i) logText(std::string(rng() % 600, char('a' + i)));
        if (foreignLock) CloseHandle(foreignLock);

        for (uint32_t at = 0; at < mappedBytes; ++at)
            ASSERT_TRUE(view[at] == before[at] || clientHeaderByte(at) || (at < kFileBytes && inDataArea(view, at)))
                << "round " << round << ": stray write at 0x" << std::hex << at;
        PBHeaderState after;
        recordsWritten += pbReadValidHeader(view, kFileBytes, kFileBytes, &after) && after.writeOffset > 0;
    }
    // The damage did not simply switch the client off.
    EXPECT_GT(recordsWritten, rounds / 4);
}
