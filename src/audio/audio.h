// The audio room: what the input and the output stream share. The device
// choice, chunk size and resync period as both read them from the settings,
// the 16-bit PCM device format, COM releases, the message boxes for device
// errors, the factor-2 resampler with its low-pass section, the 16-bit <->
// float sample conversions, the stream statistics and the audio threads'
// priority.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>

const int kMinChunkFrames = 10;
const int kMaxChunkFrames = 8192;

class Resampler;

// The choices both streams read at open, in this order: "DONT RESAMPLE" (not
// "TRUE": the wave devices run at twice the rate), "USE_DIRECTX" ("TRUE":
// DirectSound) and the chunk size of the chosen kind.
struct DeviceChoice {
    bool resample;
    bool directSound;
    int chunkFrames;
};
DeviceChoice readDeviceChoice();

// One resampler per channel (first, second) for the processing rate, or none.
void createResamplers(Resampler* (&resamplers)[2], bool resample, int sampleRate);
void destroyResamplers(Resampler* (&resamplers)[2]);

// Releases a COM pointer when there is one and forgets it.
template <class T>
void releaseInterface(T*& pointer) {
    if (pointer) pointer->Release();
    pointer = nullptr;
}

// Frames per chunk for the chosen device kind: "chunks" (DirectSound, default
// 1024) or "chunks_wave" (wave API, default 512), kept when 10..8192.
int readChunkFrames(bool directSound);
// "resync second" x sampleRate frames; a value below 1 (or none) counts as 1.
int readResyncPeriodFrames(int sampleRate);
// 16-bit PCM, interleaved, at the given device rate.
WAVEFORMATEX pcmFormat(int sampleRate, int channels);

// The wave API error box: the system's text for code inside the sentence of
// the given activity ("recording" or "playing"). errorText is the direction's
// waveInGetErrorTextA / waveOutGetErrorTextA.
typedef MMRESULT(WINAPI* WaveErrorTextFn)(MMRESULT, LPSTR, UINT);
void showWaveError(MMRESULT code, WaveErrorTextFn errorText, const char* activity);

// "HRESULT: 0x%x" notice for a non-zero COM result; nothing for 0.
void showResultCode(HRESULT code);

// A wave API error met on an audio thread: the run's first one is kept (no box
// there), and showStreamError, on the dialog's thread, shows it once as
// showWaveError would and forgets it.
void noteStreamError(MMRESULT code, WaveErrorTextFn errorText, const char* activity);
void showStreamError();

// What the streams did during one run. Plain counters, each written by one
// thread; read once the run has stopped.
struct StreamStatistics {
    int64_t chunksCaptured = 0;      // chunks the input read from the device
    int64_t chunksDelivered = 0;     // chunks the input handed on (captured or silence)
    int64_t chunksPlayed = 0;        // chunks the output handed to the device
    int64_t chunksDropped = 0;       // output chunks with no free header or a failed lock
    int64_t fadedCuts = 0;           // waveOut chunks faded out and cut short
    int64_t backlogDrops = 0;        // capture backlogs dropped
    int64_t outputResyncs = 0;       // DirectSound write position moved to the cursor
    int64_t requeueAlls = 0;         // waveIn reads that found the driver's queue empty
    int64_t recordingBytesLost = 0;  // take data the disk could not keep up with
    // Sizes the wave streams chose from the device's buffering (0: not used).
    int waveInBuffers = 0;      // waveIn buffers in use at the end of the run
    int waveOutQueueLimit = 0;  // queued waveOut headers above which chunks fade
    int waveOutMostQueued = 0;  // most waveOut headers queued at any write (the latency the queue came to)
    int outputWindowMs = 0;     // how far the DirectSound output may run ahead of its target
};
StreamStatistics& streamStatistics();
// Zero at the start of a run; one trace line at its end.
void resetStreamStatistics();
void traceStreamStatistics();

// The calling audio thread's priority for the length of a run: the multimedia
// class scheduler's "Pro Audio" task where the system has it, otherwise
// time-critical. restoreThreadPriority puts it back to normal.
struct AudioThreadPriority {
    HMODULE avrt = nullptr;
    HANDLE task = nullptr;
};
AudioThreadPriority raiseAudioThreadPriority();
void restoreThreadPriority(AudioThreadPriority& priority);

// GenFilter: one second-order IIR section (direct form I). The only type built
// is the low-pass (4) with Q 1 and unity level; the per-sample step is the
// only operation on the audio path.
class GenFilter {
public:
    static const int kLowPass = 4;

    GenFilter(int type, int sampleRate);
    virtual ~GenFilter();

    // Stores f and recomputes the coefficients when f differs from the corner.
    void setFrequency(int f);
    // Recomputes c0..c4; does nothing when f is at or above half of fs.
    void computeCoefficients();

    // One sample through the section, evaluated in double, stored as float.
    float step(float x) {
        const double y = static_cast<double>(c0) * x + static_cast<double>(c1) * x1 +
                         static_cast<double>(c2) * x2 - static_cast<double>(c3) * y1 -
                         static_cast<double>(c4) * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = static_cast<float>(y);
        return y1;
    }

    float b0 = 0, b1 = 0, b2 = 0, a0 = 0, a1 = 0, a2 = 0;
    float fs;
    float f;
    float q;
    float level;
    float w0 = 0, sinW0 = 0, cosW0 = 0, alpha = 0;
    int type;
    float x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    float c0 = 0, c1 = 0, c2 = 0, c3 = 0, c4 = 0;
};

// Resampler: factor-2 rate change for one channel between the legacy wave
// devices (twice the processing rate) and the processing rate. Each direction
// runs its own low-pass section with the corner at half the processing rate.
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

// The 16-bit <-> float sample conversions both streams use.
// Input side: destination[k] = source[k] * scale.
void pcm16ToFloat(const int16_t* source, float* destination, int count, float scale);
// The input side's scales: DirectSoundCapture takes 32767 as full scale, the
// wave API 33000 (each the nearest single-precision value of its inverse).
extern const float kCaptureScale;
extern const float kWaveInScale;

// Output side: y = x * gain * 32767, clamped to [-32765, 32766], truncated
// toward zero; single precision throughout.
inline int16_t floatToPcm16(float x, float gain) {
    float y = x * gain * 32767.0f;
    if (y > 32766.0f) y = 32766.0f;
    if (y < -32765.0f) y = -32765.0f;
    return static_cast<int16_t>(y);
}
void floatToPcm16(const float* source, int16_t* destination, int count, float gain);
