#include "ampstate.h"

#include <cstring>

#include "ampdsp.h"

namespace {

const unsigned char kTag[4] = {'H', 'A', 'm', 'p'};

void putU32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = (unsigned char)(v >> (8 * i));
}

uint32_t getU32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

void writeAmpState(const AmpDsp& dsp, unsigned char* block, size_t blockBytes) {
    memset(block, 0, blockBytes);
    memcpy(block, kTag, 4);
    putU32(block + 4, kAmpStateVersion);
    putU32(block + 8, AMP_PARAMETER_COUNT);
    for (int i = 0; i < AMP_PARAMETER_COUNT; ++i) {
        float v = dsp.parameter(i);
        uint32_t bits;
        memcpy(&bits, &v, 4);
        putU32(block + kAmpStateHeaderBytes + 4 * i, bits);
    }
}

bool readAmpState(const unsigned char* block, size_t blockBytes, AmpDsp& dsp) {
    if (blockBytes < kAmpStateHeaderBytes || memcmp(block, kTag, 4) != 0) return false;
    uint32_t version = getU32(block + 4);
    uint32_t count = getU32(block + 8);
    if (version == 0 || version > kAmpStateVersion) return false;
    if (count > (blockBytes - kAmpStateHeaderBytes) / 4) return false;
    for (uint32_t i = 0; i < count && i < AMP_PARAMETER_COUNT; ++i) {
        uint32_t bits = getU32(block + kAmpStateHeaderBytes + 4 * i);
        float v;
        memcpy(&v, &bits, 4);
        dsp.setParameter(int(i), v);  // clamped to the parameter's range
    }
    return true;
}
