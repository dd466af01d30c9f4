#include "ampdsp.h"

#include <cmath>

namespace {

const AmpParameterInfo kParameters[AMP_PARAMETER_COUNT] = {
    {"Input gain", "dB", -24.0f, 24.0f, 0.0f},
    {"Drive", "", 0.0f, 10.0f, 3.0f},
    {"Bass", "dB", -12.0f, 12.0f, 0.0f},
    {"Middle", "dB", -12.0f, 12.0f, 0.0f},
    {"Treble", "dB", -12.0f, 12.0f, 0.0f},
    {"Output level", "dB", -40.0f, 6.0f, -6.0f},
};

// Tone stack corner frequencies: bass and treble shelves, middle peak.
const float kBassHz = 100.0f;
const float kMiddleHz = 800.0f;
const float kMiddleQ = 0.7f;
const float kTrebleHz = 3000.0f;
// The drive stage's gain at full drive, in dB.
const float kMaxDriveDb = 30.0f;
// Filter memories below this are flushed to zero so a decaying tail never
// turns into denormals and silence comes out as exact zeros.
const float kDenormalFloor = 1e-20f;
const float kPi = 3.14159265358979f;

float dbToGain(float db) { return std::pow(10.0f, db / 20.0f); }

// Keeps a corner below Nyquist whatever the rate.
float limitFrequency(float rate, float freqHz) { return std::fmin(freqHz, 0.45f * rate); }

Biquad normalise(double b0, double b1, double b2, double a0, double a1, double a2) {
    Biquad q;
    q.b0 = float(b0 / a0);
    q.b1 = float(b1 / a0);
    q.b2 = float(b2 / a0);
    q.a1 = float(a1 / a0);
    q.a2 = float(a2 / a0);
    return q;
}

// Shelf with slope 1; high selects the treble shelf.
Biquad shelf(float rate, float freqHz, float gainDb, bool high) {
    double a = std::pow(10.0, gainDb / 40.0);
    double w0 = 2.0 * kPi * limitFrequency(rate, freqHz) / rate;
    double c = std::cos(w0);
    double alpha = std::sin(w0) / 2.0 * std::sqrt(2.0);
    double k = 2.0 * std::sqrt(a) * alpha;
    double s = high ? -1.0 : 1.0;  // the sign that mirrors low into high
    return normalise(a * ((a + 1) - s * (a - 1) * c + k), s * 2 * a * ((a - 1) - s * (a + 1) * c),
                     a * ((a + 1) - s * (a - 1) * c - k), (a + 1) + s * (a - 1) * c + k,
                     -s * 2 * ((a - 1) + s * (a + 1) * c), (a + 1) + s * (a - 1) * c - k);
}

float flushTiny(float z) { return std::fabs(z) < kDenormalFloor ? 0.0f : z; }

}  // namespace

const AmpParameterInfo* ampParameterInfo(int index) {
    if (index < 0 || index >= AMP_PARAMETER_COUNT) return nullptr;
    return &kParameters[index];
}

float clampAmpParameter(int index, float value) {
    const AmpParameterInfo* info = ampParameterInfo(index);
    if (!info) return 0.0f;
    if (std::isnan(value)) return info->defaultValue;
    return std::fmin(std::fmax(value, info->minValue), info->maxValue);
}

Biquad lowShelf(float rate, float freqHz, float gainDb) { return shelf(rate, freqHz, gainDb, false); }
Biquad highShelf(float rate, float freqHz, float gainDb) { return shelf(rate, freqHz, gainDb, true); }

Biquad peaking(float rate, float freqHz, float q, float gainDb) {
    double a = std::pow(10.0, gainDb / 40.0);
    double w0 = 2.0 * kPi * limitFrequency(rate, freqHz) / rate;
    double c = std::cos(w0);
    double alpha = std::sin(w0) / (2.0 * q);
    return normalise(1 + alpha * a, -2 * c, 1 - alpha * a, 1 + alpha / a, -2 * c, 1 - alpha / a);
}

float softLimit(float x) {
    const float knee = 0.9f;
    float m = std::fabs(x);
    if (m <= knee) return x;
    float y = knee + (1.0f - knee) * std::tanh((m - knee) / (1.0f - knee));
    y = std::fmin(y, 1.0f);  // tanh rounds to 1 for large inputs; never above full scale
    return x < 0 ? -y : y;
}

AmpDsp::AmpDsp() {
    for (int i = 0; i < AMP_PARAMETER_COUNT; ++i) params_[i].store(kParameters[i].defaultValue);
    clearState();
}

void AmpDsp::setParameter(int index, float value) {
    if (!ampParameterInfo(index)) return;
    params_[index].store(clampAmpParameter(index, value));
    generation_.fetch_add(1);
}

float AmpDsp::parameter(int index) const {
    if (!ampParameterInfo(index)) return 0.0f;
    return params_[index].load();
}

void AmpDsp::setSampleRate(int samplesPerSecond) {
    if (samplesPerSecond <= 0) return;
    rate_.store(samplesPerSecond);
    generation_.fetch_add(1);
}

void AmpDsp::clearState() {
    for (ChannelState& ch : channels_) {
        for (int s = 0; s < 3; ++s) ch.z1[s] = ch.z2[s] = 0.0f;
    }
}

// Turns the parameters into gains and coefficients; runs on the processing thread.
void AmpDsp::prepare() {
    preparedGeneration_ = generation_.load();
    float rate = float(rate_.load());
    inputGain_ = dbToGain(params_[AMP_INPUT_GAIN].load());
    drive_ = dbToGain(params_[AMP_DRIVE].load() / 10.0f * kMaxDriveDb);
    driveNorm_ = 1.0f / std::tanh(drive_);  // a full-scale input stays at full scale
    tone_[0] = lowShelf(rate, kBassHz, params_[AMP_BASS].load());
    tone_[1] = peaking(rate, kMiddleHz, kMiddleQ, params_[AMP_MIDDLE].load());
    tone_[2] = highShelf(rate, kTrebleHz, params_[AMP_TREBLE].load());
    outputGain_ = dbToGain(params_[AMP_OUTPUT_LEVEL].load());
}

bool AmpDsp::process(float* samples, int frames, int channels) {
    if (!samples || frames < 0 || channels < 1 || channels > kMaxChannels) return false;
    if (resetPending_.exchange(false)) clearState();
    if (preparedGeneration_ != generation_.load()) prepare();

    for (int f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) {
            float& sample = samples[f * channels + c];
            float x = std::isnan(sample) ? 0.0f : sample;
            x = std::tanh(drive_ * inputGain_ * x) * driveNorm_;
            ChannelState& st = channels_[c];
            for (int s = 0; s < 3; ++s) {
                // Transposed direct form II.
                const Biquad& q = tone_[s];
                float y = q.b0 * x + st.z1[s];
                st.z1[s] = flushTiny(q.b1 * x - q.a1 * y + st.z2[s]);
                st.z2[s] = flushTiny(q.b2 * x - q.a2 * y);
                x = y;
            }
            sample = softLimit(x * outputGain_);
        }
    }
    return true;
}
