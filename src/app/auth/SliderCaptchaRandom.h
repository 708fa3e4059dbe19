#pragma once

#include <QtGlobal>

// The captcha background's random source: a 64-bit linear congruential generator, so that one seed always
// yields the same picture on every machine. Draws follow the usual uniform-double constructions (53 random
// bits, unbiased bounded integers by multiply-high with rejection).
class SliderCaptchaRandom
{
public:
    // A seed below 2 starts from 1.
    explicit SliderCaptchaRandom(qint64 seed);

    // Advances the state and returns it.
    quint64 next();
    // Uniform in [0, bound), without bias.
    quint64 next(quint64 bound);
    // Uniform in [a, b], both ends reachable.
    double closed(double a, double b);
    // Uniform in [a, b), b never returned.
    double halfOpen(double a, double b);

private:
    quint64 m_state;
};
