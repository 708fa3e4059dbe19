#include "CaptureTestSupport.h"
#include "platform/linux/LinuxAudioInput.h"
#include "platform/linux/LinuxMicrophoneAccess.h"

#include <QElapsedTimer>
#include <QLocalServer>
#include <QTemporaryDir>
#include <QTest>

// A sound server that accepts the connection and never answers: the client library would wait 30 s.
class TestAudioCaptureHungServer : public QObject
{
    Q_OBJECT
private slots:
    void start_withSilentServerFailsWithinTheProbeLimit()
    {
        QTemporaryDir dir;
        QLocalServer silent; // listens, never accepts: connections wait in the backlog
        QVERIFY(silent.listen(dir.filePath(QStringLiteral("pulse"))));
        // Read when the client library first connects, which is at the first device query below.
        qputenv("PULSE_SERVER", QByteArray("unix:") + silent.fullServerName().toUtf8());

        auto input = std::make_unique<LinuxAudioInput>();
        LinuxMicrophoneAccess access;
        {
            AudioCaptureService service(*input, AudioCaptureService::Configuration{}, &access);
            QElapsedTimer timer;
            timer.start();
            std::optional<CaptureError> error = startCapture(service);
            QVERIFY(error);
            QCOMPARE(error->message, QStringLiteral("无法访问麦克风：没有可用的音频输入设备"));
            QVERIFY2(timer.elapsed() < LinuxAudioInput::kProbeTimeoutMs + 1500,
                     qPrintable(QString::number(timer.elapsed())));

            // While the server still holds the first query, another start does not queue up behind it.
            timer.restart();
            error = startCapture(service);
            QVERIFY(error);
            QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
            service.stop();
            QVERIFY2(timer.elapsed() < 1500, qPrintable(QString::number(timer.elapsed())));
        }
        // Closing the input waits for the client library to give up on the server.
        input.reset();
    }
};

QTEST_GUILESS_MAIN(TestAudioCaptureHungServer)
#include "tst_AudioCaptureHungServer.moc"
