#include "audio/AudioLevelMeter.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>

AudioLevelMeter::Reading AudioLevelMeter::measure(const AudioInputBuffer &buffer, double gain, int barCount)
{
    Reading reading;
    reading.bars = QVector<double>(std::max(barCount, 0), 0.0);
    const qsizetype n = buffer.frameCount();
    if (buffer.format.sampleType != AudioInputFormat::SampleType::int16 || n == 0 || barCount <= 0)
        return reading;

    // Interleaved buffers are read as the first `n` samples, which is the whole signal for mono.
    const qsizetype segment = std::max<qsizetype>(n / barCount, 1);
    const char *bytes = buffer.data.constData();
    double sumSquares = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const qint16 sample = qFromLittleEndian<qint16>(bytes + i * 2);
        const double s = std::clamp(sample / 32767.0 * gain, -1.0, 1.0);
        const qsizetype k = std::min<qsizetype>(i / segment, barCount - 1);
        reading.bars[k] = std::max(reading.bars[k], std::abs(s));
        sumSquares += s * s;
    }
    reading.level = std::clamp(std::sqrt(sumSquares / static_cast<double>(n)), 0.0, 1.0);
    for (double &bar : reading.bars)
        bar = std::clamp(bar, kBarFloor, 1.0);
    return reading;
}
