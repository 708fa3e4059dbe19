#include "CaptureTestSupport.h"
#include "platform/linux/LinuxAudioInput.h"
#include "platform/linux/LinuxMicrophoneAccess.h"

#include <QElapsedTimer>
#include <QTest>

// Runs with PULSE_SERVER naming a socket that does not exist, as on a machine whose sound server is down.
class TestAudioCaptureNoServer : public QObject
{
    Q_OBJECT
private slots:
    void start_withoutSoundServerFailsPromptly()
    {
        LinuxAudioInput input;
        LinuxMicrophoneAccess access;
        AudioCaptureService service(input, AudioCaptureService::Configuration{}, &access);
        CaptureRecorder rec;

        for (int attempt = 0; attempt < 2; ++attempt) {
            QElapsedTimer timer;
            timer.start();
            const std::optional<CaptureError> error = startCapture(service, rec.sink());
            QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
            QVERIFY(error);
            QCOMPARE(error->message, QStringLiteral("无法访问麦克风：没有可用的音频输入设备"));
            QVERIFY(!service.isRunning());
        }
        service.stop();
        QCOMPARE(rec.levelCount(), 0);

        QString reason;
        QVERIFY(!input.preferredFormat(reason).isValid());
        QVERIFY(reason.contains(QStringLiteral("sound server")));
        // Opening without a device reports the failure as well.
        QVERIFY(!input.start(
            AudioInputFormat{48000, 2, AudioInputFormat::SampleType::int16}, 1024, [](AudioInputBuffer) {}, reason));
    }
};

QTEST_GUILESS_MAIN(TestAudioCaptureNoServer)
#include "tst_AudioCaptureNoServer.moc"
