// Resampler: factor-2 rate change for one channel between the legacy wave
// devices (twice the processing rate) and the processing rate. Each direction
// runs its own low-pass section with the corner at half the processing rate.
//
// Also the 16-bit <-> float sample conversions both streams use.
#pragma once

#include <cstdint>

#include "input/genfilter.h"

class Resampler {
public:
    explicit Resampler(int sampleRate);
    virtual ~Resampler();

    // Two device-rate samples in, one processing-rate sample out.
    float decimate(float x0, float x1) {
        decimation.step(x0);
        return decimation.step(x1);
    }
    // One processing-rate sample in, two device-rate samples out (zero stuffing, no gain).
    void interpolate(float x, float& y0, float& y1) {
        y0 = interpolation.step(x);
        y1 = interpolation.step(0.0f);
    }

    GenFilter decimation;
    GenFilter interpolation;
};

// Input side: destination[k] = source[k] * scale.
void pcm16ToFloat(const int16_t* source, float* destination, int count, float scale);

// Output side: y = x * gain * 32767, clamped to [-32765, 32766], truncated
// toward zero; single precision throughout.
inline int16_t floatToPcm16(float x, float gain) {
    float y = x * gain * 32767.0f;
    if (y > 32766.0f) y = 32766.0f;
    if (y < -32765.0f) y = -32765.0f;
    return static_cast<int16_t>(y);
}
void floatToPcm16(const float* source, int16_t* destination, int count, float gain);
