#include "CaptureTestSupport.h"
#include "platform/linux/LinuxAudioInput.h"
#include "platform/linux/LinuxMicrophoneAccess.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cmath>

namespace {
bool run(const QString &program, const QStringList &args, int timeoutMs = 20000)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return false;
    }
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// RMS of consecutive 10 ms windows.
std::vector<double> envelope(const std::vector<qint16> &s)
{
    std::vector<double> env;
    for (size_t i = 0; i + 160 <= s.size(); i += 160)
        env.push_back(rms(s, i, i + 160));
    return env;
}

// Start of the first 10 ms window above a tenth of the loudest one, in seconds.
double speechStart(const std::vector<double> &env)
{
    const double threshold = *std::max_element(env.begin(), env.end()) * 0.1;
    return double(std::find_if(env.begin(), env.end(), [&](double v) { return v > threshold; }) - env.begin()) * 0.01;
}

// Normalised correlation of `ref` against `sig` starting at `offset`.
double correlationAt(const std::vector<qint16> &sig, const std::vector<qint16> &ref, long offset)
{
    double sr = 0, ss = 0, rr = 0;
    for (size_t i = 0; i < ref.size(); ++i) {
        const long j = offset + long(i);
        const double s = (j >= 0 && size_t(j) < sig.size()) ? sig[size_t(j)] : 0.0;
        sr += s * ref[i];
        ss += s * s;
        rr += double(ref[i]) * ref[i];
    }
    return ss > 0 && rr > 0 ? sr / std::sqrt(ss * rr) : 0;
}
} // namespace

// Speech played into the test desktop's virtual microphone (PulseAudio null sink "vsink", default source
// "vmic" remapped from its monitor) must come out of the service as the same speech at 16 kHz.
class TestAudioCapturePulse : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(run(QStringLiteral("pactl"), {QStringLiteral("info")}, 5000),
                 "needs the PulseAudio server of the test desktop (scripts/lib/desktop.sh)");
    }

    void input_deliversTapSizedBuffersOnItsOwnThread()
    {
        LinuxAudioInput input;
        input.stop(); // harmless while closed
        QString error;
        const AudioInputFormat format = input.preferredFormat(error);
        QVERIFY2(format.isValid(), qPrintable(error));

        std::mutex lock;
        QVector<qsizetype> sizes;
        bool foreignFormat = false, onCallerThread = false;
        QThread *caller = QThread::currentThread();
        const auto received = [&] {
            const std::lock_guard guard(lock);
            return sizes;
        };
        QVERIFY2(input.start(
                     format, 1024,
                     [&, caller](AudioInputBuffer buffer) {
                         const std::lock_guard guard(lock);
                         sizes << buffer.data.size();
                         foreignFormat = foreignFormat || !(buffer.format == format);
                         onCallerThread = onCallerThread || QThread::currentThread() == caller;
                     },
                     error),
                 qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(received().size() >= 10, 10000);
        input.stop();
        const QVector<qsizetype> atStop = received();
        const qsizetype tap = qsizetype(1024) * format.bytesPerFrame();
        for (qsizetype i = 0; i + 1 < atStop.size(); ++i)
            QCOMPARE(atStop[i], tap);
        // The last one may be the short remainder read at stop, in whole frames.
        QVERIFY(atStop.last() > 0 && atStop.last() <= tap && atStop.last() % format.bytesPerFrame() == 0);
        QTest::qWait(100); // closed: nothing more arrives
        QCOMPARE(received().size(), atStop.size());
        QVERIFY(!foreignFormat);
        QVERIFY(!onCallerThread);
    }

    void capture_spokenWavComesOutAs16kSpeech()
    {
        QTemporaryDir dir;
        const QString wav = dir.filePath(QStringLiteral("speech.wav"));
        const QString raw = dir.filePath(QStringLiteral("speech16k.raw"));
        QVERIFY(run(QStringLiteral("espeak-ng"),
                    {QStringLiteral("-v"), QStringLiteral("en-us+klatt"), QStringLiteral("-s"), QStringLiteral("150"),
                     QStringLiteral("-w"), wav, QStringLiteral("hello world this is a test")}));
        QVERIFY(run(QStringLiteral("sox"),
                    {wav, QStringLiteral("-r"), QStringLiteral("16000"), QStringLiteral("-c"), QStringLiteral("1"),
                     QStringLiteral("-b"), QStringLiteral("16"), QStringLiteral("-e"), QStringLiteral("signed-integer"),
                     QStringLiteral("-L"), QStringLiteral("-t"), QStringLiteral("raw"), raw}));
        QFile refFile(raw);
        QVERIFY(refFile.open(QIODevice::ReadOnly));
        const std::vector<qint16> ref = samplesOf(refFile.readAll());
        QVERIFY(ref.size() > 16000);

        LinuxAudioInput input;
        LinuxMicrophoneAccess access;
        AudioCaptureService service(input, AudioCaptureService::Configuration{16000, 1, 1024}, &access);
        CaptureRecorder rec;
        const std::optional<CaptureError> error = startCapture(service, rec.sink());
        QVERIFY2(!error, error ? qPrintable(error->message) : "");
        // The first open of a fresh server's source can take a couple of seconds.
        QTRY_VERIFY_WITH_TIMEOUT(rec.chunkCount() > 0, 10000);

        QVERIFY(run(QStringLiteral("paplay"), {QStringLiteral("-d"), QStringLiteral("vsink"), wav}));
        QTest::qWait(500);
        service.stop();
        const std::vector<qint16> captured = samplesOf(rec.pcm());
        QVERIFY(captured.size() > ref.size());

        // The same waveform at the same rate: align by the envelopes, refine sample by sample, then correlate.
        const long coarse = long(std::lround((speechStart(envelope(captured)) - speechStart(envelope(ref))) * 16000));
        double best = -1;
        for (long lag = coarse - 240; lag <= coarse + 240; ++lag)
            best = std::max(best, correlationAt(captured, ref, lag));
        QVERIFY2(best > 0.9, qPrintable(QStringLiteral("correlation %1").arg(best)));
    }
};

QTEST_GUILESS_MAIN(TestAudioCapturePulse)
#include "tst_AudioCapturePulse.moc"
