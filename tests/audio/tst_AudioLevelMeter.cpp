#include "CaptureTestSupport.h"
#include "audio/AudioLevelMeter.h"

#include <QTest>

class TestAudioLevelMeter : public QObject
{
    Q_OBJECT
private slots:
    // Each of the 18 bars is the peak of its segment (at least one frame; the last bar takes the remainder,
    // bars past the end stay at the floor); the level is the RMS. Only 16-bit samples are metered.
    void measure_barsArePeaksOfSegmentsLevelIsRms()
    {
        const AudioInputFormat mono16{16000, 1, AudioInputFormat::SampleType::int16};
        const auto check = [&](const std::vector<int> &samples, const QVector<double> &bars, double level) {
            const auto reading = AudioLevelMeter::measure(AudioInputBuffer{mono16, pcm16(samples)}, 1.0);
            for (int k = 0; k < 18; ++k)
                QVERIFY2(qAbs(reading.bars.value(k) - bars[k]) < 1e-12, qPrintable(QString::number(k)));
            QVERIFY(qAbs(reading.level - level) < 1e-12);
        };
        // 100 / 18 = 5 frames per bar; bar 17 takes frames 85 to 99.
        for (int peakAt : {0, 4, 5, 84, 85, 99}) {
            std::vector<int> samples(100, 0);
            samples[size_t(peakAt)] = 16384;
            QVector<double> bars(18, 0.08);
            bars[std::min(peakAt / 5, 17)] = 16384.0 / 32767;
            check(samples, bars, std::sqrt(std::pow(16384.0 / 32767, 2) / 100));
        }
        QVector<double> three(18, 0.08);
        three[0] = three[2] = 1.0;
        check({32767, 0, -32767}, three, std::sqrt(2.0 / 3));

        const AudioInputFormat float32{16000, 1, AudioInputFormat::SampleType::float32};
        const auto reading = AudioLevelMeter::measure(AudioInputBuffer{float32, QByteArray(400, '\x7f')}, 1.0);
        QCOMPARE(reading.level, 0.0);
        QCOMPARE(reading.bars, QVector<double>(18, 0.0));
    }
};

QTEST_GUILESS_MAIN(TestAudioLevelMeter)
#include "tst_AudioLevelMeter.moc"
