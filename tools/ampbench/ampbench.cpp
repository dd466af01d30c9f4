// Cost per sample of the amplifier's processing (stereo, in 441-frame
// chunks as the live host delivers them at 44.1 kHz), as a ratio to a plain
// copy of the same data measured in the same run: with steady controls, and
// with a control moved before every chunk (the coefficients are remade).
// Also prints the share of one real-time second the processing takes.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "ampdsp.h"

namespace {

const int kChannels = 2;
const int kChunkFrames = 441;
const int kChunks = 100;  // one second of audio
const int kSamples = kChunks * kChunkFrames * kChannels;
const int kRounds = 7;

double now() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(f.QuadPart);
}

// Best of kRounds, in seconds per sample.
template <typename Work>
double perSample(Work work) {
    double best = 1e30;
    for (int round = 0; round < kRounds; ++round) {
        double start = now();
        work();
        double elapsed = now() - start;
        if (elapsed < best) best = elapsed;
    }
    return best / kSamples;
}

volatile float g_sink;

}  // namespace

int main() {
    std::vector<float> source(kSamples), work(kSamples);
    for (int i = 0; i < kSamples; ++i) source[i] = float((i * 7919) % 2001 - 1000) / 1500.0f;

    const double copy = perSample([&] {
        for (int c = 0; c < kChunks; ++c) {
            size_t at = size_t(c) * kChunkFrames * kChannels;
            memcpy(work.data() + at, source.data() + at, kChunkFrames * kChannels * sizeof(float));
        }
        g_sink = work[kSamples / 2];
    });

    AmpDsp amp;
    amp.setSampleRate(44100);
    const double steady = perSample([&] {
        memcpy(work.data(), source.data(), kSamples * sizeof(float));
        for (int c = 0; c < kChunks; ++c) amp.process(work.data() + size_t(c) * kChunkFrames * kChannels, kChunkFrames, kChannels);
        g_sink = work[kSamples / 2];
    });
    const double moving = perSample([&] {
        memcpy(work.data(), source.data(), kSamples * sizeof(float));
        for (int c = 0; c < kChunks; ++c) {
            amp.setParameter(AMP_BASS, float(c % 24 - 12));
            amp.process(work.data() + size_t(c) * kChunkFrames * kChannels, kChunkFrames, kChannels);
        }
        g_sink = work[kSamples / 2];
    });

    printf("plain copy                      1.0 (baseline)\n");
    printf("amp, steady controls         %6.1f x copy\n", steady / copy);
    printf("amp, a control moved per chunk %4.1f x copy\n", moving / copy);
    // The time one second of stereo audio takes to process, per second of audio.
    printf("amp share of real time        %6.4f (steady, 44.1 kHz stereo)\n", steady * kSamples);
    return 0;
}
