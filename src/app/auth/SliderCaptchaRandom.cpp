#include "app/auth/SliderCaptchaRandom.h"

namespace {
constexpr quint64 kMultiplier = 0x27BB2EE687B0B0FDULL;
constexpr quint64 kIncrement = 0xB504F32DULL;
constexpr quint64 kTwo53 = quint64(1) << 53;
constexpr double kUlpHalf = 1.0 / double(kTwo53); // 2^-53

// The full 128-bit product of two 64-bit words.
void multiplyFull(quint64 a, quint64 b, quint64 &high, quint64 &low)
{
    const quint64 aLo = a & 0xFFFFFFFFULL, aHi = a >> 32;
    const quint64 bLo = b & 0xFFFFFFFFULL, bHi = b >> 32;
    const quint64 p0 = aLo * bLo, p1 = aLo * bHi, p2 = aHi * bLo, p3 = aHi * bHi;
    const quint64 mid = (p0 >> 32) + (p1 & 0xFFFFFFFFULL) + (p2 & 0xFFFFFFFFULL);
    high = p3 + (p1 >> 32) + (p2 >> 32) + (mid >> 32);
    low = a * b;
}
} // namespace

SliderCaptchaRandom::SliderCaptchaRandom(qint64 seed) : m_state(seed < 2 ? 1 : quint64(seed)) {}

quint64 SliderCaptchaRandom::next()
{
    m_state = m_state * kMultiplier + kIncrement; // wraps modulo 2^64
    return m_state;
}

quint64 SliderCaptchaRandom::next(quint64 bound)
{
    // Lemire's method: the high word of the 128-bit product is uniform once low words below
    // (2^64 - bound) mod bound are redrawn.
    const quint64 threshold = (0 - bound) % bound;
    for (;;) {
        quint64 high = 0;
        quint64 low = 0;
        multiplyFull(next(), bound, high, low);
        if (low >= threshold)
            return high;
    }
}

double SliderCaptchaRandom::closed(double a, double b)
{
    const quint64 u = next(kTwo53 + 1); // 0 ... 2^53
    if (u == kTwo53)
        return b;
    return (b - a) * (double(u) * kUlpHalf) + a;
}

double SliderCaptchaRandom::halfOpen(double a, double b)
{
    for (;;) {
        const double r = (b - a) * (double(next() & (kTwo53 - 1)) * kUlpHalf) + a;
        if (r != b)
            return r;
    }
}
