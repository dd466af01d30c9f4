// The buffer file belongs to another process that may write anything into
// its header. Hundreds of damaged headers, met while connecting and between
// writes: the client must not crash, and may change nothing but the header
// fields it owns and the data area the resulting header describes, nor any
// byte past the file's end in the last mapped page.
#include <random>

#include "pbtestenv.h"

namespace {

const uint32_t kFileBytes = 12000;  // not a multiple of the page size

// Writes 1-4 header fields, mostly with their complement so the damage gets
// past the complement check; sometimes a consistent data area that still lies.
void damageHeader(uint8_t* view, std::mt19937& rng) {
    const uint32_t values[] = {0, 0xFFFFFFFF, 0x80000000u, kFileBytes + rng() % 8 - 4,
                               kFileBytes - kPBHeaderBytes + rng() % 8 - 4, rng()};
    for (int fields = 1 + rng() % 4; fields > 0; --fields) {
        uint32_t field = 8 * (rng() % kPBComplementPairs), value = values[rng() % 6];
        pbWrite32(view + field, value);
        if (rng() % 4) pbWrite32(view + field + 4, ~value);
    }
    if (rng() % 3 == 0) {
        uint32_t dataOffset = rng() % 2 ? rng() % kFileBytes : kPBHeaderBytes + 4 * (rng() % 8) - 16;
        pbWritePair(view, PB_DATA_OFFSET, dataOffset);
        pbWritePair(view, PB_DATA_SIZE, kFileBytes - dataOffset);
    }
}

// The header bytes the client may write: the complemented fields, the times
// and their minutes, the lock-failure error.
bool clientHeaderByte(uint32_t at) { return at < 0x80 || (at >= 0x90 && at < 0x98) || (at >= 0x9c && at < 0xa0); }

// Whether the header as the client left it puts the byte in the data area, read
// here on its own so a fault in the client's checks cannot hide itself.
bool inDataArea(const uint8_t* view, uint32_t at) {
    uint32_t offset = pbRead32(view + PB_DATA_OFFSET), size = pbRead32(view + PB_DATA_SIZE);
    bool complements = pbRead32(view + PB_DATA_OFFSET + 4) == ~offset && pbRead32(view + PB_DATA_SIZE + 4) == ~size;
    return complements && uint64_t(offset) + size == kFileBytes && offset >= kPBHeaderBytes && at >= offset;
}

}  // namespace

TEST_F(TraceLogTest, DamagedHeadersNeitherCrashTheClientNorLetItWriteOutsideItsRecords) {
    withViewer(kFileBytes);
    logText("start");
    BufferFile buffer(bufferPath());
    const uint32_t mappedBytes = (kFileBytes + 4095) / 4096 * 4096;
    uint8_t* view = buffer.bytes();
    std::mt19937 rng(20261206);
    int recordsWritten = 0;
    for (int round = 0; round < 200; ++round) {
        if (round % 2 == 0) reconnect();  // met while connecting, then between writes
        if (round % 20 == 0) pbResetHeader(view, kFileBytes, 0);
        damageHeader(view, rng);
        std::vector<uint8_t> before(view, view + mappedBytes);
        for (int i = 0; i < 3; ++i) logText(std::string(rng() % 600, char('a' + i)));
        for (uint32_t at = 0; at < mappedBytes; ++at)
            ASSERT_TRUE(view[at] == before[at] || clientHeaderByte(at) || (at < kFileBytes && inDataArea(view, at)))
                << "round " << round << ": stray write at 0x" << std::hex << at;
        PBHeaderState after;
        recordsWritten += pbReadValidHeader(view, kFileBytes, kFileBytes, &after) && after.writeOffset > 0;
    }
    EXPECT_GT(recordsWritten, 50) << "the damage did not simply switch the client off";
}
