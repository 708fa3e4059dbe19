#include "CaptureTestSupport.h"
#include "audio/AudioCaptureProcessor.h"
#include "audio/AudioLevelMeter.h"
#include "audio/Pcm16Converter.h"
#include "platform/fake/FakeAudioInput.h"
#include "platform/fake/FakeMicrophoneAccess.h"

#include <QTest>
#include <cmath>
#include <limits>
#include <numbers>

namespace {
using SampleType = AudioInputFormat::SampleType;
const AudioInputFormat kMono16k{16000, 1, SampleType::int16};
const AudioInputFormat kStereo48k{48000, 2, SampleType::int16};
const AudioCaptureService::Configuration kConfig{16000, 1, 1024};

// 48 kHz stereo 16-bit frames of a sine on the left channel and `rightFactor` times it on the right.
QByteArray stereoSine(qint64 firstFrame, int frames, double hz, double amplitude, double rightFactor)
{
    std::vector<int> samples;
    samples.reserve(size_t(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        const double v = amplitude * std::sin(2 * std::numbers::pi * hz * double(firstFrame + i) / 48000.0);
        samples.push_back(int(std::lround(v * 32767)));
        samples.push_back(int(std::lround(v * rightFactor * 32767)));
    }
    return pcm16(samples);
}

QByteArray float32(const std::vector<float> &values)
{
    QByteArray bytes(qsizetype(values.size() * 4), Qt::Uninitialized);
    qToLittleEndian<float>(values.data(), qsizetype(values.size()), bytes.data());
    return bytes;
}
} // namespace

class TestAudioCaptureService : public QObject
{
    Q_OBJECT
private slots:
    void convert_48kStereoStreamsAThirdAsManyFramesAndFlushesAtStop()
    {
        FakeAudioInput input;
        input.format = kStereo48k;
        AudioCaptureService service(input, kConfig);
        CaptureRecorder rec;
        const auto pushTaps = [&input](int from, int count) {
            bool accepted = true;
            for (int t = from; t < from + count; ++t)
                accepted = input.push(stereoSine(qint64(t) * 1024, 1024, 440, 0.3, 1.0)) && accepted;
            return accepted;
        };
        QVERIFY(!startCapture(service, rec.sink()));
        QVERIFY(service.isRunning());
        QCOMPARE(input.framesPerBuffer(), 1024u);
        QCOMPARE(input.startedFormat(), kStereo48k);

        QVERIFY(pushTaps(0, 60));
        QTRY_COMPARE(rec.levelCount(), 60);
        int frames = 0;
        for (const QByteArray &chunk : rec.pcmChunks()) {
            // Streaming resampler: every tap yields output, about a third of the input, within one tap's capacity.
            QVERIFY2(chunk.size() / 2 > 100 && chunk.size() / 2 < 600, qPrintable(QString::number(chunk.size())));
            frames += int(chunk.size() / 2);
        }
        // What the resampler still holds, and buffers still queued, come out before stop returns.
        QVERIFY(frames < 60 * 1024 / 3 && frames > 60 * 1024 / 3 - 400);
        QVERIFY(pushTaps(60, 140));
        service.stop();
        QVERIFY(!service.isRunning());
        QVERIFY(!input.isRunning());
        QCOMPARE(rec.pcm().size() / 2, std::lround(200 * 1024 / 3.0));
        QCOMPARE(rec.threadNames, QStringList{QStringLiteral("voxle.audio.capture.processing")});

        // Idempotent, and a new start converts with a fresh resampler.
        service.stop();
        const qsizetype before = rec.pcm().size();
        QVERIFY(!startCapture(service, rec.sink()));
        QVERIFY(pushTaps(0, 30));
        service.stop();
        QCOMPARE((rec.pcm().size() - before) / 2, std::lround(30 * 1024 / 3.0));
        QCOMPARE(input.startCount(), 2);

        // A start while running first closes the device and flushes that run, remainder included, to its sink.
        const qsizetype flushedBefore = rec.pcm().size();
        QVERIFY(!startCapture(service, rec.sink()));
        QVERIFY(pushTaps(0, 30));
        CaptureRecorder next;
        QVERIFY(!startCapture(service, next.sink()));
        QCOMPARE((rec.pcm().size() - flushedBefore) / 2, std::lround(30 * 1024 / 3.0));
        QVERIFY(service.isRunning() && input.isRunning());
        service.stop();
        QCOMPARE(next.chunkCount(), 0);

        // Destroyed while running, a service still delivers everything it took.
        CaptureRecorder last;
        {
            AudioCaptureService running(input, kConfig);
            QVERIFY(!startCapture(running, last.sink()));
            QVERIFY(pushTaps(0, 30));
        }
        QCOMPARE(last.pcm().size() / 2, std::lround(30 * 1024 / 3.0));
    }

    void convert_sineKeepsPitchAndLevelAndMixesChannels()
    {
        struct Case {
            double rightFactor;
            double expectedAmplitude;
        };
        for (const Case c : {Case{1.0, 0.4}, Case{0.0, 0.2}, Case{-1.0, 0.0}}) {
            FakeAudioInput input;
            AudioCaptureService service(input, kConfig);
            CaptureRecorder rec;
            QVERIFY(!startCapture(service, rec.sink()));
            for (int t = 0; t < 47; ++t) // about one second
                QVERIFY(input.push(stereoSine(qint64(t) * 1024, 1024, 1000, 0.4, c.rightFactor)));
            service.stop();
            const std::vector<qint16> out = samplesOf(rec.pcm());
            QCOMPARE(qint64(out.size()), std::lround(47 * 1024 / 3.0));
            // Skip the resampler's start-up; mono mean of the two channels.
            const double level = rms(out, 1000, out.size() - 1000) / 32767;
            QVERIFY2(qAbs(level - c.expectedAmplitude / std::sqrt(2.0)) < 0.004, qPrintable(QString::number(level)));
            if (c.expectedAmplitude == 0)
                continue;
            int crossings = 0;
            for (size_t i = 1001; i < out.size() - 1000; ++i)
                crossings += (out[i - 1] < 0) != (out[i] < 0);
            const double seconds = double(out.size() - 2001) / 16000;
            QVERIFY2(qAbs(crossings / 2.0 / seconds - 1000) < 5,
                     qPrintable(QString::number(crossings / 2.0 / seconds)));
        }
    }

    void gainAndMeter_applyToEveryConvertedBuffer()
    {
        // Within a thousandth of unity the gain copies the samples, otherwise it scales them.
        const std::vector<int> samples{1000, -1000, 12345, -12345, -7, 32767, -32768, 0, 1};
        QCOMPARE(AudioCaptureProcessor::applyGain(pcm16(samples), 1.0005), pcm16(samples));
        QCOMPARE(AudioCaptureProcessor::applyGain(pcm16(samples), 0.9991), pcm16(samples));
        // Truncated toward zero, clamped to the 16-bit range.
        QCOMPARE(AudioCaptureProcessor::applyGain(pcm16(samples), 1.002),
                 pcm16({1002, -1002, 12369, -12369, -7, 32767, -32768, 0, 1}));
        QCOMPARE(AudioCaptureProcessor::applyGain(pcm16({10000, -10000, 5461, -5462}), 6.0),
                 pcm16({32767, -32768, 32766, -32768}));

        // A 16 kHz mono device passes through the resampler unchanged. The service keeps its gain within a half and
        // six, and applies it, and the meter, to every converted buffer.
        FakeAudioInput input;
        input.format = kMono16k;
        AudioCaptureService service(input, kConfig);
        for (const auto &[set, expected] : {std::pair{10.0, 6.0}, {0.1, 0.5}, {2.5, 2.5}}) {
            service.setGain(set);
            QCOMPARE(service.gain(), expected);
        }
        CaptureRecorder rec;
        QVERIFY(!startCapture(service, rec.sink()));
        service.setGain(6.0);
        QVERIFY(input.push(pcm16(std::vector<int>(1024, 10000))));
        // The gain is read when a buffer is converted, so a change waits for the buffer before.
        QTRY_COMPARE(rec.chunkCount(), 1);
        service.setGain(1.0005);
        QVERIFY(input.push(pcm16({1000, -1000})));
        QVERIFY(input.push(pcm16(std::vector<int>(1024, 0))));
        QVERIFY(input.push(QByteArray()));
        service.stop();
        QCOMPARE(rec.chunks, (QVector<QByteArray>{pcm16(std::vector<int>(1024, 32767)), pcm16({1000, -1000}),
                                                  pcm16(std::vector<int>(1024, 0))}));
        // The meter reads the gained samples; an empty buffer is metered too, but yields no bytes.
        QCOMPARE(rec.levels.size(), 4);
        QCOMPARE(rec.levels[0], 1.0);
        QCOMPARE(rec.bars[0], QVector<double>(18, 1.0));
        QCOMPARE(rec.levels[2], 0.0);
        QCOMPARE(rec.bars[2], QVector<double>(18, 0.08));
        QCOMPARE(rec.levels[3], 0.0);
        QCOMPARE(rec.bars[3], QVector<double>(18, 0.0));
    }

    // Each of the 18 bars is the peak of its segment (at least one frame; the last bar takes the remainder,
    // bars past the end stay at the floor); the level is the RMS. Only 16-bit samples are metered.
    void meter_barsArePeaksOfSegmentsLevelIsRms()
    {
        const auto check = [&](const std::vector<int> &samples, const QVector<double> &bars, double level) {
            const auto reading = AudioLevelMeter::measure(AudioInputBuffer{kMono16k, pcm16(samples)}, 1.0);
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

        const AudioInputFormat floatFormat{16000, 1, SampleType::float32};
        const auto reading = AudioLevelMeter::measure(AudioInputBuffer{floatFormat, QByteArray(400, '\x7f')}, 1.0);
        QCOMPARE(reading.level, 0.0);
        QCOMPARE(reading.bars, QVector<double>(18, 0.0));
    }

    void start_failsWithoutAuthorisationDeviceOrConvertibleFormat()
    {
        FakeAudioInput input;
        FakeMicrophoneAccess access;
        AudioCaptureService service(input, kConfig, &access);
        for (auto status : {MicrophoneAccess::Status::denied, MicrophoneAccess::Status::restricted,
                            MicrophoneAccess::Status::notDetermined}) {
            access.currentStatus = status;
            const std::optional<CaptureError> error = startCapture(service);
            QVERIFY(error);
            QVERIFY(error->message.startsWith(QStringLiteral("无法访问麦克风")));
        }
        QCOMPARE(access.requestCount, 0); // the service never asks by itself
        access.currentStatus = MicrophoneAccess::Status::authorized;
        for (const auto &unconvertible :
             {AudioCaptureService::Configuration{16000, 3, 1024}, AudioCaptureService::Configuration{0, 1, 1024}}) {
            AudioCaptureService other(input, unconvertible, &access);
            QVERIFY(startCapture(other));
        }
        QCOMPARE(input.startCount(), 0);

        input.unavailableReason = QStringLiteral("no sound server");
        QVERIFY(startCapture(service));
        QCOMPARE(input.startCount(), 0);

        input.unavailableReason.clear();
        input.openFailure = QStringLiteral("device busy");
        QVERIFY(startCapture(service));
        QVERIFY(!service.isRunning());
        QVERIFY(!input.isRunning());

        input.openFailure.clear();
        QVERIFY(!startCapture(service));
        QVERIFY(service.isRunning());
        service.stop();
    }

    void convert_otherSampleTypesAndStrayFormats()
    {
        // A float device at 16 kHz: converted to 16-bit without resampling.
        FakeAudioInput input;
        input.format = AudioInputFormat{16000, 1, SampleType::float32};
        AudioCaptureService service(input, kConfig);
        CaptureRecorder rec;
        QVERIFY(!startCapture(service, rec.sink()));
        const QByteArray floats = float32({0.5f, -0.25f, 1.5f, -1.0f});
        QVERIFY(input.push(floats));
        // A buffer in another format is dropped with an error; capture goes on.
        QVERIFY(input.pushBuffer(AudioInputBuffer{kMono16k, pcm16({1, 2, 3})}));
        QVERIFY(input.push(floats));
        // Samples that are not numbers are taken as silence.
        QVERIFY(input.push(
            float32({std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), 0.5f})));
        service.stop();
        QCOMPARE(rec.chunks.size(), 3);
        QCOMPARE(rec.chunks[2], pcm16({0, 0, 16384}));
        QCOMPARE(rec.chunks[0], pcm16({16384, -8192, 32767, -32768}));
        QCOMPARE(rec.chunks[1], rec.chunks[0]);
    }
};

QTEST_GUILESS_MAIN(TestAudioCaptureService)
#include "tst_AudioCaptureService.moc"
