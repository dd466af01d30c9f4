#include "audio/audio.h"

#include <cstring>

Resampler::Resampler(int sampleRate)
    : decimation(GenFilter::kLowPass, sampleRate), interpolation(GenFilter::kLowPass, sampleRate) {
    decimation.setFrequency(sampleRate / 4);
    interpolation.setFrequency(sampleRate / 4);
}

Resampler::~Resampler() = default;

namespace {
float bitsToFloat(uint32_t bits) {
    float value;
    memcpy(&value, &bits, sizeof value);
    return value;
}
}  // namespace

const float kCaptureScale = bitsToFloat(0x38000100u);
const float kWaveInScale = bitsToFloat(0x37FE3343u);

void pcm16ToFloat(const int16_t* source, float* destination, int count, float scale) {
    for (int k = 0; k < count; ++k) destination[k] = source[k] * scale;
}

void floatToPcm16(const float* source, int16_t* destination, int count, float gain) {
    for (int k = 0; k < count; ++k) destination[k] = floatToPcm16(source[k], gain);
}
