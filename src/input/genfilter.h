// GenFilter: one second-order IIR section (direct form I). The only type built
// is the low-pass (4) with Q 1 and unity level; the per-sample step is the
// only operation on the audio path.
#pragma once

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
