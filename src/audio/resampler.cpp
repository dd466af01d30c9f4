#include "audio/audio.h"

Resampler::Resampler(int sampleRate)
    : decimation(GenFilter::kLowPass, sampleRate), interpolation(GenFilter::kLowPass, sampleRate) {
    decimation.setFrequency(sampleRate / 4);
    interpolation.setFrequency(sampleRate / 4);
}

Resampler::~Resampler() = default;

void pcm16ToFloat(const int16_t* source, float* destination, int count, float scale) {
    for (int k = 0; k < count; ++k) destination[k] = source[k] * scale;
}

void floatToPcm16(const float* source, int16_t* destination, int count, float gain) {
    for (int k = 0; k < count; ++k) destination[k] = floatToPcm16(source[k], gain);
}
