#include "CaptureTestSupport.h"
#include "audio/AudioLevelMeter.h"

#include <QTest>

namespace {
const AudioInputFormat kMono16{16000, 1, AudioInputFormat::SampleType::int16};

AudioInputBuffer mono(const std::vector<int> &samples)
{
    return AudioInputBuffer{kMono16, pcm16(samples)};
}
} // namespace

class TestAudioLevelMeter : public QObject
{
    Q_OBJECT
private slots:
    // An empty buffer reads zero too: the capture service's test meters one.
    void measure_not16BitReadsZero()
    {
        const AudioInputFormat float32{16000, 1, AudioInputFormat::SampleType::float32};
        const auto reading = AudioLevelMeter::measure(AudioInputBuffer{float32, QByteArray(400, '\x7f')}, 1.0);
        QCOMPARE(reading.level, 0.0);
        QCOMPARE(reading.bars, QVector<double>(18, 0.0));
    }

    void measure_hundredFramesLastBarTakesRemainder()
    {
        // 100 / 18 = 5 frames per bar; bar 17 takes frames 85 to 99.
        for (int peakAt : {0, 4, 5, 84, 85, 99}) {
            std::vector<int> samples(100, 0);
            samples[size_t(peakAt)] = 16384;
            const auto reading = AudioLevelMeter::measure(mono(samples), 1.0);
            const int expectedBar = std::min(peakAt / 5, 17);
            for (int k = 0; k < 18; ++k) {
                const double expected = k == expectedBar ? 16384.0 / 32767 : 0.08;
                QVERIFY2(qAbs(reading.bars[k] - expected) < 1e-12,
                         qPrintable(QStringLiteral("peak at %1, bar %2").arg(peakAt).arg(k)));
            }
            QVERIFY(qAbs(reading.level - std::sqrt(std::pow(16384.0 / 32767, 2) / 100)) < 1e-12);
        }
    }

    void measure_fewerFramesThanBars()
    {
        // Segment length never drops below one frame; bars past the end stay at the floor.
        const auto reading = AudioLevelMeter::measure(mono({32767, 0, -32767}), 1.0);
        QCOMPARE(reading.bars[0], 1.0);
        QCOMPARE(reading.bars[1], 0.08);
        QCOMPARE(reading.bars[2], 1.0);
        for (int k = 3; k < 18; ++k)
            QCOMPARE(reading.bars[k], 0.08);
        QVERIFY(qAbs(reading.level - std::sqrt(2.0 / 3)) < 1e-12);
    }
};

QTEST_GUILESS_MAIN(TestAudioLevelMeter)
#include "tst_AudioLevelMeter.moc"
