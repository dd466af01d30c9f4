#include <cmath>
#include <cstring>

#include "audio/audio.h"
#include "support/testenv.h"

namespace {

// With its corner at a quarter of the rate the section is, to within 1e-4,
// y[n] = (x[n] + 2x[n-1] + x[n-2] - y[n-2]) / 3 (the tuned 6.283 keeps c3 near
// -6e-5 instead of 0): unity gain at 0 Hz and a zero at half the rate.
TEST(ResamplerTest, QuarterRateSectionForEveryRate) {
    for (int rate : {44100, 48000, 96000}) {
        SCOPED_TRACE(rate);
        const GenFilter& g = Resampler(rate).decimation;
        const float hand[] = {1 / 3.0f, 2 / 3.0f, 1 / 3.0f, 0.0f, 1 / 3.0f};
        const float coefficients[] = {g.c0, g.c1, g.c2, g.c3, g.c4};
        for (int i = 0; i < 5; ++i) EXPECT_NEAR(hand[i], coefficients[i], 1e-4) << "c" << i;
        EXPECT_NEAR(-0.0000616, g.c3, 2e-6);
    }
}

TEST(ResamplerTest, DecimateAndInterpolateKnownSignals) {
    // A step on a pair boundary: every output is the step itself (within 1e-4).
    Resampler step(44100);
    for (int i = 0; i < 200; ++i) ASSERT_NEAR(1000.0f, step.decimate(1000.0f, 1000.0f), 0.1f) << i;
    // Half the device rate vanishes.
    Resampler nyquist(44100);
    float y = 1;
    for (int i = 0; i < 2000; ++i) y = nyquist.decimate(1.0f, -1.0f);
    EXPECT_NEAR(0.0f, y, 1e-4);
    // Zero stuffing without gain: a constant comes out at half its level, on both samples.
    Resampler up(44100);
    float y0 = 0, y1 = 0;
    for (int i = 0; i < 2000; ++i) up.interpolate(1.0f, y0, y1);
    EXPECT_NEAR(0.5f, y0, 1e-5);
    EXPECT_NEAR(0.5f, y1, 1e-5);
}

TEST(ResamplerTest, ACornerAtOrAboveHalfTheRateKeepsTheLastSection) {
    GenFilter g(GenFilter::kLowPass, 44100);
    g.setFrequency(11025);
    const float quarter[] = {g.c0, g.c1, g.c2, g.c3, g.c4};
    for (int f : {22050, 30000}) {
        g.setFrequency(f);
        const float kept[] = {g.c0, g.c1, g.c2, g.c3, g.c4};
        EXPECT_EQ(0, memcmp(quarter, kept, sizeof kept)) << f;
    }
}

TEST(ConversionTest, SixteenBitAndFloat) {
    struct Case {
        float x, gain;
        int16_t pcm;
    } cases[] = {{1.0f, 1.0f, 32766},   {-1.0f, 1.0f, -32765}, {2.0f, 1.0f, 32766}, {-2.0f, 1.0f, -32765},
                 {0.5f, 1.0f, 16383},   {-0.5f, 1.0f, -16383}, {0.5f, 0.5f, 8191},  {0.0f, 1.0f, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(c.pcm, floatToPcm16(c.x, c.gain)) << c.x << " x " << c.gain;
        int16_t out = 1;
        floatToPcm16(&c.x, &out, 1, c.gain);
        EXPECT_EQ(c.pcm, out);
    }
    // The input scales: DirectSoundCapture takes 32767 as full scale, the wave API 33000.
    const int16_t in[2] = {-32768, 32767};
    float out[2];
    pcm16ToFloat(in, out, 2, kCaptureScale);
    EXPECT_FLOAT_EQ(-32768.0f / 32767, out[0]);
    EXPECT_FLOAT_EQ(1.0f, out[1]);
    pcm16ToFloat(in, out, 2, kWaveInScale);
    EXPECT_FLOAT_EQ(-32768.0f / 33000, out[0]);
}

HMODULE WINAPI noLibrary(LPCSTR) { return nullptr; }

TEST(AudioThreadPriorityTest, RaisedForTheRunAndBackToNormal) {
    {
        SCOPED_TRACE("a system without the multimedia class scheduler");
        PlatformOverride override;
        override.api().loadLibraryA = noLibrary;
        AudioThreadPriority priority = raiseAudioThreadPriority();
        EXPECT_EQ(THREAD_PRIORITY_TIME_CRITICAL, GetThreadPriority(GetCurrentThread()));
        restoreThreadPriority(priority);
        EXPECT_EQ(THREAD_PRIORITY_NORMAL, GetThreadPriority(GetCurrentThread()));
    }
    AudioThreadPriority priority = raiseAudioThreadPriority();
    EXPECT_NE(nullptr, priority.task) << "this system has the scheduler's task";
    restoreThreadPriority(priority);
    EXPECT_EQ(nullptr, priority.task);
    EXPECT_EQ(THREAD_PRIORITY_NORMAL, GetThreadPriority(GetCurrentThread()));
}

}  // namespace
