// The amplifier's sound and its persisted state block, without COM.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <vector>

#include "ampdsp.h"
#include "ampstate.h"

namespace {

const int kRate = 44100;
const double kPi = 3.14159265358979;

std::vector<float> sine(double freqHz, double amplitude, int frames, int channels = 1) {
    std::vector<float> v(size_t(frames) * channels);
    for (int f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c) v[size_t(f) * channels + c] = float(amplitude * std::sin(2 * kPi * freqHz * f / kRate));
    return v;
}

// RMS of one channel, after the first tenth (filters settle).
double rms(const std::vector<float>& v, int channels = 1, int channel = 0) {
    size_t frames = v.size() / channels;
    double sum = 0;
    size_t n = 0;
    for (size_t f = frames / 10; f < frames; ++f, ++n) sum += double(v[f * channels + channel]) * v[f * channels + channel];
    return std::sqrt(sum / double(n));
}

double db(double ratio) { return 20.0 * std::log10(ratio); }

// Output RMS of a sine through a fresh amplifier with one parameter set.
double toneLevel(int parameter, float value, double freqHz, double amplitude = 0.02) {
    AmpDsp dsp;
    dsp.setParameter(AMP_DRIVE, 0.0f);  // nearly linear, so the tone stack is what is measured
    dsp.setParameter(parameter, value);
    std::vector<float> v = sine(freqHz, amplitude, kRate / 2);
    dsp.process(v.data(), int(v.size()), 1);
    return rms(v);
}

double magnitudeDb(const Biquad& q, double freqHz, double rate) {
    std::complex<double> z = std::polar(1.0, -2 * kPi * freqHz / rate);
    std::complex<double> num = double(q.b0) + double(q.b1) * z + double(q.b2) * z * z;
    std::complex<double> den = 1.0 + double(q.a1) * z + double(q.a2) * z * z;
    return db(std::abs(num / den));
}

}  // namespace

TEST(AmpDsp, ToneStackDesignsHaveTheirGainWhereTheyAct) {
    for (double rate : {8000.0, 44100.0, 96000.0}) {
        EXPECT_NEAR(magnitudeDb(lowShelf(float(rate), 100, 9), 1, rate), 9.0, 0.1) << rate;
        EXPECT_NEAR(magnitudeDb(lowShelf(float(rate), 100, 9), rate * 0.45, rate), 0.0, 0.3) << rate;
        EXPECT_NEAR(magnitudeDb(highShelf(float(rate), 3000, -7), rate / 2 * 0.999, rate), -7.0, 0.2) << rate;
        EXPECT_NEAR(magnitudeDb(highShelf(float(rate), 3000, -7), 20, rate), 0.0, 0.1) << rate;
        EXPECT_NEAR(magnitudeDb(peaking(float(rate), 800, 0.7f, 6), 800, rate), 6.0, 0.1) << rate;
        EXPECT_NEAR(magnitudeDb(peaking(float(rate), 800, 0.7f, 6), 5, rate), 0.0, 0.1) << rate;
    }
}

TEST(AmpDsp, OutputNeverExceedsFullScaleWhateverComesIn) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (int channels : {1, 2}) {
        AmpDsp dsp;
        // Everything at its loudest.
        for (int i = 0; i < AMP_PARAMETER_COUNT; ++i) dsp.setParameter(i, ampParameterInfo(i)->maxValue);
        std::vector<float> v = sine(90, 1.0, 4000, channels);
        const float extremes[] = {1e30f, -1e30f, inf, -inf, nan, 1.0f, -1.0f, 3.0f};
        for (size_t i = 0; i < v.size(); i += 97) v[i] = extremes[(i / 97) % 8];
        dsp.process(v.data(), int(v.size()) / channels, channels);
        float peak = 0;
        for (float y : v) {
            ASSERT_TRUE(std::isfinite(y));
            peak = std::fmax(peak, std::fabs(y));
        }
        EXPECT_LE(peak, 1.0f);
        EXPECT_GT(peak, 0.8f);  // loud, but limited
    }
}

TEST(AmpDsp, SilenceInGivesSilenceOutAlsoAfterSound) {
    for (int channels : {1, 2}) {
        AmpDsp dsp;
        std::vector<float> silence(2048 * channels, 0.0f);
        dsp.process(silence.data(), 2048, channels);
        for (float y : silence) ASSERT_EQ(y, 0.0f);

        // A loud burst with a broken (NaN) sample in it, then silence: the tail
        // dies away to exact zeros (no denormal hiss, no NaN kept in the filters).
        std::vector<float> burst = sine(100, 0.9, 2048, channels);
        burst[101] = std::nanf("");
        dsp.process(burst.data(), 2048, channels);
        std::vector<float> tail(kRate * channels, 0.0f);
        dsp.process(tail.data(), kRate, channels);
        for (size_t i = tail.size() - 1024; i < tail.size(); ++i) ASSERT_EQ(tail[i], 0.0f) << i;
    }
}

TEST(AmpDsp, EveryControlActsAudibly) {
    // Tone controls move their own band by several dB.
    EXPECT_GT(db(toneLevel(AMP_BASS, 12, 60) / toneLevel(AMP_BASS, -12, 60)), 12.0);
    EXPECT_GT(db(toneLevel(AMP_MIDDLE, 12, 800) / toneLevel(AMP_MIDDLE, -12, 800)), 12.0);
    EXPECT_GT(db(toneLevel(AMP_TREBLE, 12, 8000) / toneLevel(AMP_TREBLE, -12, 8000)), 12.0);
    // ...and leave the far bands nearly alone.
    EXPECT_LT(std::fabs(db(toneLevel(AMP_TREBLE, 12, 60) / toneLevel(AMP_TREBLE, -12, 60))), 1.0);
    // Output level is a plain gain below the limiter.
    EXPECT_NEAR(db(toneLevel(AMP_OUTPUT_LEVEL, 0, 440) / toneLevel(AMP_OUTPUT_LEVEL, -20, 440)), 20.0, 0.5);
    // Input gain raises the level too.
    EXPECT_GT(db(toneLevel(AMP_INPUT_GAIN, 12, 440) / toneLevel(AMP_INPUT_GAIN, 0, 440)), 6.0);

    // Drive squares the wave off: the crest factor (peak / RMS) falls toward 1.
    auto crest = [](float drive) {
        AmpDsp dsp;
        dsp.setParameter(AMP_DRIVE, drive);
        dsp.setParameter(AMP_OUTPUT_LEVEL, -12);
        std::vector<float> v = sine(220, 0.3, kRate / 4);
        dsp.process(v.data(), int(v.size()), 1);
        float peak = 0;
        for (size_t i = v.size() / 10; i < v.size(); ++i) peak = std::fmax(peak, std::fabs(v[i]));
        return peak / rms(v);
    };
    EXPECT_GT(crest(0), 1.35);  // a sine: sqrt(2)
    EXPECT_LT(crest(10), 1.15);
}

TEST(AmpDsp, StereoChannelsAreProcessedApartAndLikeMono) {
    AmpDsp stereo, mono;
    std::vector<float> left = sine(330, 0.5, 4096);
    std::vector<float> frames(2 * 4096, 0.0f);
    for (int f = 0; f < 4096; ++f) frames[2 * f] = left[f];
    stereo.process(frames.data(), 4096, 2);
    mono.process(left.data(), 4096, 1);
    for (int f = 0; f < 4096; ++f) {
        ASSERT_FLOAT_EQ(frames[2 * f], left[f]) << f;
        ASSERT_EQ(frames[2 * f + 1], 0.0f) << f;
    }
}

TEST(AmpDsp, RefusesChannelCountsItCannotProcess) {
    AmpDsp dsp;
    std::vector<float> v(3 * 16, 0.5f);
    EXPECT_FALSE(dsp.process(v.data(), 16, 3));
    EXPECT_FALSE(dsp.process(v.data(), 16, 0));
    EXPECT_FALSE(dsp.process(nullptr, 16, 1));
    for (float x : v) EXPECT_EQ(x, 0.5f);
    EXPECT_TRUE(dsp.process(v.data(), 0, 2));
}

TEST(AmpDsp, ParametersStayInRange) {
    AmpDsp dsp;
    dsp.setParameter(AMP_BASS, 100);
    EXPECT_EQ(dsp.parameter(AMP_BASS), 12.0f);
    dsp.setParameter(AMP_DRIVE, -5);
    EXPECT_EQ(dsp.parameter(AMP_DRIVE), 0.0f);
    dsp.setParameter(AMP_OUTPUT_LEVEL, std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(dsp.parameter(AMP_OUTPUT_LEVEL), ampParameterInfo(AMP_OUTPUT_LEVEL)->defaultValue);
    dsp.setParameter(AMP_PARAMETER_COUNT, 1);  // ignored
    EXPECT_EQ(dsp.parameter(AMP_PARAMETER_COUNT), 0.0f);
    EXPECT_EQ(ampParameterInfo(-1), nullptr);
}

TEST(AmpState, RoundTripKeepsEveryParameter) {
    AmpDsp a, b;
    const float values[AMP_PARAMETER_COUNT] = {-3.5f, 7.25f, 4.0f, -6.0f, 11.5f, -17.0f};
    for (int i = 0; i < AMP_PARAMETER_COUNT; ++i) a.setParameter(i, values[i]);
    unsigned char block[kAmpStateBytes];
    memset(block, 0xAB, sizeof block);
    writeAmpState(a, block, sizeof block);
    EXPECT_EQ(0, memcmp(block, "HAmp", 4));
    for (size_t i = kAmpStateHeaderBytes + 4 * AMP_PARAMETER_COUNT; i < sizeof block; ++i) ASSERT_EQ(block[i], 0) << i;
    ASSERT_TRUE(readAmpState(block, sizeof block, b));
    for (int i = 0; i < AMP_PARAMETER_COUNT; ++i) EXPECT_EQ(b.parameter(i), values[i]) << i;
}

TEST(AmpState, ForeignOrNewerBlocksLeaveTheParametersAlone) {
    AmpDsp source, target;
    source.setParameter(AMP_TREBLE, 9);
    unsigned char good[kAmpStateBytes];
    writeAmpState(source, good, sizeof good);

    unsigned char bad[kAmpStateBytes];
    memcpy(bad, good, sizeof bad);
    bad[0] = 'X';  // not our tag
    EXPECT_FALSE(readAmpState(bad, sizeof bad, target));
    memcpy(bad, good, sizeof bad);
    bad[4] = 2;  // a later version
    EXPECT_FALSE(readAmpState(bad, sizeof bad, target));
    memcpy(bad, good, sizeof bad);
    bad[8] = 200;  // more parameters than the block holds
    EXPECT_FALSE(readAmpState(bad, sizeof bad, target));
    EXPECT_FALSE(readAmpState(good, 8, target));
    EXPECT_EQ(target.parameter(AMP_TREBLE), 0.0f);
}

TEST(AmpState, FewerParametersAreReadAndOutOfRangeValuesLimited) {
    AmpDsp source, target;
    source.setParameter(AMP_INPUT_GAIN, 5);
    source.setParameter(AMP_OUTPUT_LEVEL, -30);
    unsigned char block[kAmpStateBytes];
    writeAmpState(source, block, sizeof block);
    block[8] = 1;  // an older block that knew only the input gain
    float huge = 1e9f;
    memcpy(block + kAmpStateHeaderBytes, &huge, 4);  // little-endian machines only; this test runs on x86
    ASSERT_TRUE(readAmpState(block, sizeof block, target));
    EXPECT_EQ(target.parameter(AMP_INPUT_GAIN), 24.0f);
    EXPECT_EQ(target.parameter(AMP_OUTPUT_LEVEL), ampParameterInfo(AMP_OUTPUT_LEVEL)->defaultValue);
}
