#include <cmath>
#include <cstring>

#include "audio/audio.h"
#include "support/testenv.h"

namespace {

TEST(GenFilterTest, QuarterRateCoefficients) {
    for (int rate : {44100, 48000}) {
        Resampler r(rate);
        const GenFilter& g = r.decimation;
        EXPECT_EQ(rate / 4, static_cast<int>(g.f));
        EXPECT_NEAR(0.333318, g.c0, 2e-6) << rate;
        EXPECT_NEAR(0.666636, g.c1, 2e-6) << rate;
        EXPECT_NEAR(0.333318, g.c2, 2e-6) << rate;
        EXPECT_NEAR(-0.0000616, g.c3, 2e-6) << rate;
        EXPECT_NEAR(0.333333, g.c4, 2e-6) << rate;
        // Unity gain at 0 Hz.
        EXPECT_NEAR(1.0, (g.c0 + g.c1 + g.c2) / (1.0 + g.c3 + g.c4), 1e-5);
    }
}

TEST(GenFilterTest, ConstructorUsesTheTunedConstantAndDefaults) {
    GenFilter g(GenFilter::kLowPass, 44100);
    EXPECT_EQ(1000.0f, g.f);
    EXPECT_EQ(1.0f, g.q);
    EXPECT_EQ(1.0f, g.level);
    EXPECT_EQ(44100.0f, g.fs);
    uint32_t bits;
    const float expectedW0 = 6.283f * 1000.0f / 44100.0f;
    EXPECT_EQ(expectedW0, g.w0);
    const float constant = 6.283f;
    memcpy(&bits, &constant, 4);
    EXPECT_EQ(0x40C90E56u, bits);
    EXPECT_EQ(0.0f, g.x1);
    EXPECT_EQ(0.0f, g.y2);
}

TEST(GenFilterTest, SetFrequencyRecomputesOnlyOnChangeAndInRange) {
    GenFilter g(GenFilter::kLowPass, 44100);
    // Same value: nothing is recomputed (a poisoned coefficient survives).
    g.c0 = 42.0f;
    g.setFrequency(1000);
    EXPECT_EQ(42.0f, g.c0);
    // Different value: every coefficient is recomputed.
    g.c1 = g.c2 = g.c3 = g.c4 = 42.0f;
    g.setFrequency(2000);
    for (float c : {g.c0, g.c1, g.c2, g.c3, g.c4}) EXPECT_NE(42.0f, c);
    EXPECT_EQ(2000.0f, g.f);
    // At or above half of fs: the corner is stored, the coefficients stay.
    const float before[] = {g.c0, g.c1, g.c2, g.c3, g.c4};
    for (int f : {22050, 30000}) {
        g.setFrequency(f);
        EXPECT_EQ(before[0], g.c0);
        EXPECT_EQ(before[1], g.c1);
        EXPECT_EQ(before[4], g.c4);
    }
}

TEST(ResamplerTest, FirstDecimateValueKeepsTheFirstStepInHistory) {
    Resampler r(44100);
    const GenFilter& g = r.decimation;
    const double expected = g.c0 + g.c1 - g.c3 * g.c0;
    EXPECT_NEAR(0.999975, r.decimate(1.0f, 1.0f), 2e-6);
    Resampler again(44100);
    EXPECT_FLOAT_EQ(static_cast<float>(expected), again.decimate(1.0f, 1.0f));
    EXPECT_NEAR(0.333318, again.decimation.y2, 2e-6) << "first filtered value lives in the history";
}

TEST(ResamplerTest, ConstantInputsSettle) {
    Resampler r(44100);
    float y = 0;
    for (int i = 0; i < 2000; ++i) y = r.decimate(1000.0f, 1000.0f);
    EXPECT_NEAR(1000.0f, y, 1e-2);

    float y0 = 0, y1 = 0;
    for (int i = 0; i < 2000; ++i) r.interpolate(1.0f, y0, y1);
    EXPECT_NEAR(0.5f, y0, 1e-5);
    EXPECT_NEAR(0.5f, y1, 1e-5);
}

TEST(ResamplerTest, DecimationRemovesTheDeviceRateNyquist) {
    // The section has a zero at half its own rate: an alternating input vanishes.
    Resampler r(44100);
    float y = 1;
    for (int i = 0; i < 2000; ++i) y = r.decimate(1.0f, -1.0f);
    EXPECT_NEAR(0.0f, y, 1e-4);
}

TEST(ConversionTest, FloatTo16BitScalesClampsAndTruncates) {
    EXPECT_EQ(32766, floatToPcm16(1.0f, 1.0f));
    EXPECT_EQ(-32765, floatToPcm16(-1.0f, 1.0f));
    EXPECT_EQ(32766, floatToPcm16(2.0f, 1.0f));
    EXPECT_EQ(16383, floatToPcm16(0.5f, 1.0f));  // 16383.5 truncates toward zero
    EXPECT_EQ(-16383, floatToPcm16(-0.5f, 1.0f));
    EXPECT_EQ(8191, floatToPcm16(0.5f, 0.5f));
    float in[3] = {0.25f, -2.0f, 0.0f};
    int16_t out[3];
    floatToPcm16(in, out, 3, 1.0f);
    EXPECT_EQ(8191, out[0]);
    EXPECT_EQ(-32765, out[1]);
    EXPECT_EQ(0, out[2]);
}

TEST(ConversionTest, SixteenBitToFloatUsesTheGivenScale) {
    float capture, wave;
    const uint32_t captureBits = 0x38000100, waveBits = 0x37FE3343;
    memcpy(&capture, &captureBits, 4);
    memcpy(&wave, &waveBits, 4);
    int16_t in[2] = {-32768, 32767};
    float out[2];
    pcm16ToFloat(in, out, 2, capture);
    EXPECT_FLOAT_EQ(-1.0000305f, out[0]);
    EXPECT_FLOAT_EQ(1.0f, out[1]);
    pcm16ToFloat(in, out, 2, wave);
    EXPECT_FLOAT_EQ(-0.9929697f, out[0]);
}

HMODULE WINAPI noLibrary(LPCSTR) { return nullptr; }

TEST(AudioThreadPriorityTest, RaisedForTheRunAndBackToNormal) {
    {
        SCOPED_TRACE("a system without the multimedia class scheduler");
        PlatformOverride override;
        override.api().loadLibraryA = noLibrary;
        TraceRecorder trace;
        AudioThreadPriority priority = raiseAudioThreadPriority();
        EXPECT_EQ(THREAD_PRIORITY_TIME_CRITICAL, GetThreadPriority(GetCurrentThread()));
        restoreThreadPriority(priority);
        EXPECT_EQ(THREAD_PRIORITY_NORMAL, GetThreadPriority(GetCurrentThread()));
        EXPECT_TRUE(trace.contains("time-critical"));
    }
    TraceRecorder trace;
    AudioThreadPriority priority = raiseAudioThreadPriority();
    EXPECT_NE(nullptr, priority.task) << "this system has the scheduler's task";
    EXPECT_TRUE(trace.contains("\"Pro Audio\""));
    restoreThreadPriority(priority);
    EXPECT_EQ(nullptr, priority.task);
    EXPECT_TRUE(trace.contains("back to normal"));
}

}  // namespace
