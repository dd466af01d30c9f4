#include "audio/audio.h"

#include <cmath>

GenFilter::GenFilter(int sectionType, int sampleRate)
    : fs(static_cast<float>(sampleRate)), f(1000.0f), q(1.0f), level(1.0f), type(sectionType) {
    computeCoefficients();
}

GenFilter::~GenFilter() = default;

void GenFilter::setFrequency(int frequency) {
    if (static_cast<float>(frequency) == f) return;
    f = static_cast<float>(frequency);
    computeCoefficients();
}

void GenFilter::computeCoefficients() {
    if (type != kLowPass) return;
    if (f >= 0.5f * fs) return;
    // 6.283, not 2*pi: the corner sits where the section was always tuned.
    w0 = 6.283f * f / fs;
    sinW0 = static_cast<float>(std::sin(static_cast<double>(w0)));
    cosW0 = static_cast<float>(std::cos(static_cast<double>(w0)));
    alpha = sinW0 / (2.0f * q);
    b0 = (1.0f - cosW0) / 2.0f;
    b1 = 1.0f - cosW0;
    b2 = (1.0f - cosW0) / 2.0f;
    a0 = 1.0f + alpha;
    a1 = -2.0f * cosW0;
    a2 = 1.0f - alpha;
    c0 = b0 * level / a0;
    c1 = b1 * level / a0;
    c2 = b2 * level / a0;
    c3 = a1 / a0;
    c4 = a2 / a0;
}
