// Cost per sample of the factor-2 resampler and of the 16-bit/float sample
// conversions, each as a ratio to a plain copy of the same data measured in
// the same run. Prints one line per operation; no wall-clock figure is
// meant to be compared across machines.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "audio/audio.h"

namespace {

const int kSamples = 1 << 16;
const int kRepeats = 40;
const int kRounds = 7;

double now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Best of kRounds, in seconds per sample; the best round is the one least
// disturbed by the rest of the machine.
template <typename Work>
double perSample(Work work) {
    double best = 1e30;
    for (int round = 0; round < kRounds; ++round) {
        double start = now();
        for (int r = 0; r < kRepeats; ++r) work();
        double elapsed = now() - start;
        if (elapsed < best) best = elapsed;
    }
    return best / (static_cast<double>(kRepeats) * kSamples);
}

volatile float g_sink;

}  // namespace

int main() {
    std::vector<float> source(2 * kSamples), destination(2 * kSamples);
    std::vector<int16_t> pcm(kSamples);
    for (int i = 0; i < 2 * kSamples; ++i) source[i] = static_cast<float>((i * 7919) % 2001 - 1000) / 1000.0f;
    for (int i = 0; i < kSamples; ++i) pcm[i] = static_cast<int16_t>((i * 7919) % 65536 - 32768);
    Resampler resampler(44100);

    const double copy = perSample([&] {
        memcpy(destination.data(), source.data(), kSamples * sizeof(float));
        g_sink = destination[kSamples / 2];
    });
    struct Row {
        const char* name;
        double seconds;
    } rows[] = {
        {"decimate (2 device samples -> 1)", perSample([&] {
             for (int i = 0; i < kSamples; ++i) destination[i] = resampler.decimate(source[2 * i], source[2 * i + 1]);
             g_sink = destination[kSamples / 2];
         })},
        {"interpolate (1 -> 2 device samples)", perSample([&] {
             for (int i = 0; i < kSamples; ++i)
                 resampler.interpolate(source[i], destination[2 * i], destination[2 * i + 1]);
             g_sink = destination[kSamples / 2];
         })},
        {"16-bit to float", perSample([&] {
             pcm16ToFloat(pcm.data(), destination.data(), kSamples, 1.0f / 32767.0f);
             g_sink = destination[kSamples / 2];
         })},
        {"float to 16-bit (clamped)", perSample([&] {
             floatToPcm16(source.data(), pcm.data(), kSamples, 1.0f);
             g_sink = pcm[kSamples / 2];
         })},
    };

    printf("resampler and conversion cost per processing-rate sample, as a ratio to memcpy of the same samples\n");
    printf("%-40s %10s\n", "operation", "x copy");
    for (const Row& row : rows) printf("%-40s %10.2f\n", row.name, row.seconds / copy);
    return 0;
}
