// The amplifier's sound: input gain, a soft-clipping drive stage, a
// three-band tone stack (low shelf, peak, high shelf biquads), output level
// and a final soft limiter that keeps every sample within full scale.
//
// How it works
// - Parameters live in atomics: the page, the direct interface and the
//   persisted state write them from any thread; each write bumps a
//   generation counter.
// - The processing thread compares the generation with the one its
//   coefficients were made for and recomputes them itself before the next
//   buffer, so processing takes no lock and allocates nothing.
// - Filter state is kept per channel (at most two) and reset on demand.
#pragma once

#include <atomic>

enum AmpParameter {
    AMP_INPUT_GAIN = 0,  // dB
    AMP_DRIVE = 1,       // 0..10
    AMP_BASS = 2,        // dB
    AMP_MIDDLE = 3,      // dB
    AMP_TREBLE = 4,      // dB
    AMP_OUTPUT_LEVEL = 5,  // dB
    AMP_PARAMETER_COUNT = 6,
};

struct AmpParameterInfo {
    const char* name;
    const char* unit;
    float minValue;
    float maxValue;
    float defaultValue;
};

// The table of parameters in index order; null for an index out of range.
const AmpParameterInfo* ampParameterInfo(int index);
// value limited to the parameter's range (a NaN gives the default).
float clampAmpParameter(int index, float value);

// Coefficients of one biquad section (normalised, a0 = 1).
struct Biquad {
    float b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
};

class AmpDsp {
public:
    static const int kMaxChannels = 2;

    AmpDsp();

    // Any thread. Out-of-range indices are ignored / give 0.
    void setParameter(int index, float value);
    float parameter(int index) const;
    void setSampleRate(int samplesPerSecond);
    int sampleRate() const { return rate_.load(); }
    // Clears the filter memories before the next buffer (e.g. at stream start).
    void requestReset() { resetPending_.store(true); }

    // Processing thread: interleaved frames in place, 1 or 2 channels;
    // other channel counts are left untouched and false is returned.
    bool process(float* samples, int frames, int channels);

private:
    struct ChannelState {
        float z1[3];
        float z2[3];
    };

    void prepare();
    void clearState();

    std::atomic<float> params_[AMP_PARAMETER_COUNT];
    std::atomic<int> rate_{44100};
    std::atomic<unsigned> generation_{1};
    std::atomic<bool> resetPending_{true};

    // Owned by the processing thread.
    unsigned preparedGeneration_ = 0;
    float inputGain_ = 1, drive_ = 1, driveNorm_ = 1, outputGain_ = 1;
    Biquad tone_[3];
    ChannelState channels_[kMaxChannels];
};

// The biquad designs used by the tone stack (exposed for tests).
Biquad lowShelf(float rate, float freqHz, float gainDb);
Biquad peaking(float rate, float freqHz, float q, float gainDb);
Biquad highShelf(float rate, float freqHz, float gainDb);
// |result| < 1 for every input; identity below the knee.
float softLimit(float x);
