#pragma once

#include "platform/AudioInput.h"

#include <QVector>

// The level meter of the recording overlay: one overall level (linear RMS) and the peak of each of
// `barCount` equal segments of a 16-bit buffer, both measured on the gained samples.
class AudioLevelMeter
{
public:
    static constexpr int kBarCount = 18;
    // Bars never drop below this floor, so a quiet pill still shows a row of dots.
    static constexpr double kBarFloor = 0.08;

    struct Reading {
        double level = 0;
        QVector<double> bars;
    };

    // A buffer that is empty or not 16-bit reads as level 0 with every bar at 0.
    static Reading measure(const AudioInputBuffer &buffer, double gain, int barCount = kBarCount);
};
