// Repeated open and close of both streams on the real virtual soundcard leaks
// neither handles nor memory, on each sound system. Wine allocates some of its
// own state lazily on first use, so a few warm-up cycles come first and the
// comparison allows a small tolerance (far below one leaked buffer or one
// handle per cycle).
//
// Wine's DirectSoundCapture itself keeps about 64 KiB per capture buffer
// created and released, so each sound system's growth is compared with that
// of the same device calls made plainly, without the streams, in the same run.
#include <windows.h>

#include "engine/outputstream.h"
#include "input/inputstream.h"
#include "settings/settings.h"
#include "support/processusage.h"
#include "support/testenv.h"

namespace {

const int kCycles = 100;
const int kWarmUpCycles = 5;
const DWORD kHandleTolerance = 5;
const SIZE_T kPrivateBytesTolerance = 1 << 20;  // the input staging buffer alone is 128 KiB per cycle

using Usage = ProcessUsage;

Usage growthOver(void (*cycle)()) {
    for (int i = 0; i < kWarmUpCycles; ++i) cycle();
    const Usage before = processUsage(GetCurrentProcess());
    for (int i = 0; i < kCycles; ++i) cycle();
    const Usage after = processUsage(GetCurrentProcess());
    Usage growth;
    growth.handles = after.handles > before.handles ? after.handles - before.handles : 0;
    growth.privateBytes = after.privateBytes > before.privateBytes ? after.privateBytes - before.privateBytes : 0;
    return growth;
}

void CALLBACK ignoreWaveIn(HWAVEIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}

// The devices of each sound system opened and closed with plain calls.
void plainWaveCycle() {
    WAVEFORMATEX format = {WAVE_FORMAT_PCM, 2, 88200, 352800, 4, 16, 0};
    HWAVEIN waveIn = nullptr;
    if (waveInOpen(&waveIn, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(&ignoreWaveIn), 0,
                   CALLBACK_FUNCTION) == MMSYSERR_NOERROR) {
        waveInStart(waveIn);
        waveInStop(waveIn);
        waveInReset(waveIn);
        waveInClose(waveIn);
    }
    HWAVEOUT waveOut = nullptr;
    if (waveOutOpen(&waveOut, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) == MMSYSERR_NOERROR) {
        waveOutReset(waveOut);
        waveOutClose(waveOut);
    }
}

class StreamLeakTest : public HarnwickTest {
protected:
    // One RUN and STOP of both streams, with one chunk through them and both
    // recordings on.
    static void cycle() {
        InputStream in;
        OutputStream out;
        int outputOpen = 0;
        ASSERT_EQ(1, openInput(in, nullptr, 44100, 2));
        ASSERT_EQ(1, openOutput(out, outputOpen, nullptr, 44100, 2));
        static const float silence[512] = {};
        writeOutput(out, silence, 256);
        closeInput(in);
        closeOutput(out, outputOpen);
    }

    void expectNoLeak(void (*plainCycle)()) {
        writeSettingText("DISK_OUTPUT_DIRECTORY", tempDir().c_str());
        writeSettingText("SAVE_INPUT", "TRUE");
        writeSettingText("SAVE_OUTPUT", "TRUE");
        writeSettingInt("chunks", 256);
        writeSettingInt("chunks_wave", 256);
        const Usage now = processUsage(GetCurrentProcess());
        ASSERT_GT(now.handles, 0u) << "handles cannot be counted here";
        ASSERT_GT(now.privateBytes, 0u) << "private bytes cannot be measured here";
        const Usage plain = growthOver(plainCycle);
        const Usage streams = growthOver(cycle);
        ASSERT_FALSE(HasFatalFailure());
        printf("growth over %d cycles: plain device calls %lu handles, %llu private bytes; "
               "streams %lu handles, %llu private bytes\n",
               kCycles, plain.handles, static_cast<unsigned long long>(plain.privateBytes), streams.handles,
               static_cast<unsigned long long>(streams.privateBytes));
        EXPECT_LE(streams.handles, plain.handles + kHandleTolerance);
        EXPECT_LE(streams.privateBytes, plain.privateBytes + kPrivateBytesTolerance);
    }
};

TEST_F(StreamLeakTest, WaveInAndWaveOutWithResampling) {
    writeSettingText("USE_DIRECTX", "FALSE");
    expectNoLeak(plainWaveCycle);
}

TEST_F(StreamLeakTest, DirectSoundCaptureAndDirectSound) {
    writeSettingText("USE_DIRECTX", "TRUE");
    expectNoLeak(plainDirectSoundCaptureCycle);
}

}  // namespace
