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
const float kNaN = std::numeric_limits<float>::quiet_NaN();

std::vector<float> sine(double freqHz, double amplitude, int frames, int channels = 1) {
    std::vector<float> v(size_t(frames) * channels);
    for (size_t i = 0; i < v.size(); ++i) v[i] = float(amplitude * std::sin(2 * kPi * freqHz * (i / channels) / kRate));
    return v;
}

// RMS and peak of a mono signal after the first tenth (filters settle).
double rms(const std::vector<float>& v) {
    double sum = 0;
    for (size_t i = v.size() / 10; i < v.size(); ++i) sum += double(v[i]) * v[i];
    return std::sqrt(sum / double(v.size() - v.size() / 10));
}

double peak(const std::vector<float>& v) {
    double p = 0;
    for (size_t i = v.size() / 10; i < v.size(); ++i) p = std::fmax(p, std::fabs(v[i]));
    return p;
}

double db(double ratio) { return 20.0 * std::log10(ratio); }

// A mono sine through a fresh amplifier with drive 0 (nearly linear) and one parameter set.
std::vector<float> through(int parameter, float value, double freqHz, double amplitude = 0.02) {
    AmpDsp dsp;
    dsp.setParameter(AMP_DRIVE, 0.0f);
    dsp.setParameter(parameter, value);
    std::vector<float> v = sine(freqHz, amplitude, kRate / 2);
    dsp.process(v.data(), int(v.size()), 1);
    return v;
}

double magnitudeDb(const Biquad& q, double freqHz, double rate) {
    std::complex<double> z = std::polar(1.0, -2 * kPi * freqHz / rate);
    std::complex<double> num = double(q.b0) + double(q.b1) * z + double(q.b2) * z * z;
    std::complex<double> den = 1.0 + double(q.a1) * z + double(q.a2) * z * z;
    return db(std::abs(num / den));
}

}  // namespace

TEST(AmpDsp, ToneStackDesignsHaveTheirGainWhereTheyAct) {
    for (float rate : {8000.0f, 44100.0f, 96000.0f}) {
        struct Case {
            Biquad design;
            double freqHz, gainDb, tolerance;
        } cases[] = {{lowShelf(rate, 100, 9), 1, 9, 0.1},          {lowShelf(rate, 100, 9), rate * 0.45, 0, 0.3},
                     {highShelf(rate, 3000, -7), rate * 0.4995, -7, 0.2}, {highShelf(rate, 3000, -7), 20, 0, 0.1},
                     {peaking(rate, 800, 0.7f, 6), 800, 6, 0.1},     {peaking(rate, 800, 0.7f, 6), 5, 0, 0.1}};
        for (const Case& c : cases) EXPECT_NEAR(magnitudeDb(c.design, c.freqHz, rate), c.gainDb, c.tolerance) << rate;
    }
}

TEST(AmpDsp, OutputStaysWithinFullScaleAndSilenceStaysSilentWhateverCameBefore) {
    const float inf = std::numeric_limits<float>::infinity();
    const float extremes[] = {1e30f, -1e30f, inf, -inf, kNaN, 1.0f, -1.0f, 3.0f};
    for (int channels : {1, 2}) {
        AmpDsp dsp;
        std::vector<float> silence(2048 * channels, 0.0f);
        dsp.process(silence.data(), 2048, channels);
        EXPECT_EQ(silence, std::vector<float>(2048 * channels, 0.0f));
        for (int i = 0; i < AMP_PARAMETER_COUNT; ++i) dsp.setParameter(i, ampParameterInfo(i)->maxValue);
        std::vector<float> v = sine(90, 1.0, 4000, channels);
        for (size_t i = 0; i < v.size(); i += 97) v[i] = extremes[(i / 97) % 8];
        dsp.process(v.data(), int(v.size()) / channels, channels);
        float loudest = 0;
        for (float y : v) {
            ASSERT_TRUE(std::isfinite(y));
            loudest = std::fmax(loudest, std::fabs(y));
        }
        EXPECT_LE(loudest, 1.0f);
        EXPECT_GT(loudest, 0.8f);  // loud, but limited
        // The tail dies away to exact zeros: no denormal hiss, no NaN kept in the filters.
        std::vector<float> tail(kRate * channels, 0.0f);
        dsp.process(tail.data(), kRate, channels);
        for (size_t i = tail.size() - 1024; i < tail.size(); ++i) ASSERT_EQ(tail[i], 0.0f) << i;
    }
}

TEST(AmpDsp, EveryControlActsAudiblyOnItsOwnBand) {
    struct Case {
        int parameter;
        float high, low;
        double freqHz, minDb, maxDb;
    } cases[] = {{AMP_BASS, 12, -12, 60, 12, 48},        {AMP_MIDDLE, 12, -12, 800, 12, 48},
                 {AMP_TREBLE, 12, -12, 8000, 12, 48},    {AMP_TREBLE, 12, -12, 60, -1, 1},
                 {AMP_OUTPUT_LEVEL, 0, -20, 440, 19.5, 20.5}, {AMP_INPUT_GAIN, 12, 0, 440, 6, 24}};
    for (const Case& c : cases) {
        double gain = db(rms(through(c.parameter, c.high, c.freqHz)) / rms(through(c.parameter, c.low, c.freqHz)));
        EXPECT_GT(gain, c.minDb) << ampParameterInfo(c.parameter)->name << " at " << c.freqHz;
        EXPECT_LT(gain, c.maxDb) << ampParameterInfo(c.parameter)->name << " at " << c.freqHz;
    }
    // Drive squares the wave off: the crest factor (peak / RMS) falls from a sine's sqrt(2) toward 1.
    std::vector<float> clean = through(AMP_DRIVE, 0, 220, 0.3), driven = through(AMP_DRIVE, 10, 220, 0.3);
    EXPECT_GT(peak(clean) / rms(clean), 1.35);
    EXPECT_LT(peak(driven) / rms(driven), 1.15);
}

TEST(AmpDsp, StereoChannelsAreProcessedApartAndLikeMono) {
    AmpDsp stereo, mono;
    std::vector<float> left = sine(330, 0.5, 4096), frames(2 * 4096, 0.0f);
    for (int f = 0; f < 4096; ++f) frames[2 * f] = left[f];
    stereo.process(frames.data(), 4096, 2);
    mono.process(left.data(), 4096, 1);
    for (int f = 0; f < 4096; ++f) {
        ASSERT_FLOAT_EQ(frames[2 * f], left[f]) << f;
        ASSERT_EQ(frames[2 * f + 1], 0.0f) << f;
    }
}

TEST(AmpDsp, RefusesWhatItCannotProcessAndKeepsParametersInRange) {
    AmpDsp dsp;
    std::vector<float> v(3 * 16, 0.5f);
    EXPECT_FALSE(dsp.process(v.data(), 16, 3));
    EXPECT_FALSE(dsp.process(v.data(), 16, 0));
    EXPECT_FALSE(dsp.process(nullptr, 16, 1));
    EXPECT_EQ(v, std::vector<float>(3 * 16, 0.5f));
    EXPECT_TRUE(dsp.process(v.data(), 0, 2));

    struct Case {
        int parameter;
        float set, expected;
    } cases[] = {{AMP_BASS, 100, 12},
                 {AMP_DRIVE, -5, 0},
                 {AMP_OUTPUT_LEVEL, kNaN, ampParameterInfo(AMP_OUTPUT_LEVEL)->defaultValue},
                 {AMP_PARAMETER_COUNT, 1, 0}};  // ignored
    for (const Case& c : cases) {
        dsp.setParameter(c.parameter, c.set);
        EXPECT_EQ(dsp.parameter(c.parameter), c.expected) << c.parameter;
    }
}

TEST(AmpState, RoundTripKeepsEveryParameterAndForeignBlocksChangeNothing) {
    AmpDsp source, target;
    const float values[AMP_PARAMETER_COUNT] = {-3.5f, 7.25f, 4.0f, -6.0f, 11.5f, -17.0f};
    for (int i = 0; i < AMP_PARAMETER_COUNT; ++i) source.setParameter(i, values[i]);
    unsigned char good[kAmpStateBytes];
    memset(good, 0xAB, sizeof good);
    writeAmpState(source, good, sizeof good);
    EXPECT_EQ(0, memcmp(good, "HAmp", 4));
    for (size_t i = kAmpStateHeaderBytes + 4 * AMP_PARAMETER_COUNT; i < sizeof good; ++i) ASSERT_EQ(good[i], 0) << i;

    // Not our tag, a later version, more parameters than the block holds, a block cut short.
    struct Damage {
        size_t at;
        unsigned char value;
        size_t bytes;
    } refused[] = {{0, 'X', kAmpStateBytes}, {4, 2, kAmpStateBytes}, {8, 200, kAmpStateBytes}, {0, 'H', 8}};
    for (const Damage& d : refused) {
        unsigned char bad[kAmpStateBytes];
        memcpy(bad, good, sizeof bad);
        bad[d.at] = d.value;
        EXPECT_FALSE(readAmpState(bad, d.bytes, target)) << d.at << " " << d.bytes;
        EXPECT_EQ(target.parameter(AMP_TREBLE), 0.0f);
    }
    ASSERT_TRUE(readAmpState(good, sizeof good, target));
    for (int i = 0; i < AMP_PARAMETER_COUNT; ++i) EXPECT_EQ(target.parameter(i), values[i]) << i;

    // An older block that knew only the input gain, with a value out of its range.
    AmpDsp older;
    good[8] = 1;
    const float huge = 1e9f;
    memcpy(good + kAmpStateHeaderBytes, &huge, 4);  // little-endian machines only; this test runs on x86
    ASSERT_TRUE(readAmpState(good, sizeof good, older));
    EXPECT_EQ(older.parameter(AMP_INPUT_GAIN), 24.0f);
    EXPECT_EQ(older.parameter(AMP_OUTPUT_LEVEL), ampParameterInfo(AMP_OUTPUT_LEVEL)->defaultValue);
}
