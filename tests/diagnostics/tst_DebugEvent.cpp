#include "diagnostics/DebugCollector.h"
#include "diagnostics/DebugEvent.h"
#include "diagnostics/DebugEventConfig.h"
#include "hotkeys/QuietDebugEvents.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

namespace {
using Request = DebugCollector::Request;
} // namespace

class TestDebugEvent : public QObject
{
    Q_OBJECT

    QuietDebugEvents m_home;

    void writeDiagnosticsFile(const QByteArray &content) { QVERIFY(m_home.write(content)); }
    void removeDiagnosticsFile() { m_home.write({}); }

private slots:

    void send_fileWithOnlyUrl_postsRecordWithDefaultSessionIdFromAnyThread()
    {
        DebugCollector collector;
        QVERIFY(collector.isListening());
        writeDiagnosticsFile("DEBUG_SERVER_URL=" + collector.url() + "\n");

        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        // Hotkey and audio code call in from their own threads.
        QScopedPointer<QThread> thread(QThread::create([] {
            sendDebugEvent(QStringLiteral("TextInjectionService.injectAtCursor"),
                           QStringLiteral("[DEBUG] inject enter"), QStringLiteral("C"),
                           QJsonObject{{QStringLiteral("flags"), qint64(8388608)}, {QStringLiteral("fn"), true}});
        }));
        thread->start();
        QVERIFY(thread->wait(5000));
        QTRY_COMPARE(collector.requests.size(), 1);

        const Request &request = collector.requests.first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.path, QByteArray("/event"));
        QCOMPARE(request.contentType, QByteArray("application/json"));
        QVERIFY2(!request.body.contains('\n') && !request.body.contains(": "), request.body.constData()); // compact
        const QJsonObject event = request.event();
        QCOMPARE(event.keys(), (QStringList{QStringLiteral("data"), QStringLiteral("hypothesisId"),
                                            QStringLiteral("location"), QStringLiteral("msg"), QStringLiteral("runId"),
                                            QStringLiteral("sessionId"), QStringLiteral("ts")}));
        for (const auto &[key, value] : {std::pair{"sessionId", "fn-hotkey-not-effective"},
                                         {"runId", "pre-fix"},
                                         {"hypothesisId", "C"},
                                         {"location", "TextInjectionService.injectAtCursor"},
                                         {"msg", "[DEBUG] inject enter"}})
            QCOMPARE(event.value(QLatin1String(key)).toString(), QString::fromUtf8(value));
        // Integers travel as JSON integers, never as 12.0 or 1.7e12.
        QVERIFY2(request.body.contains("\"data\":{\"flags\":8388608,\"fn\":true}"), request.body.constData());
        const QByteArray tsText = request.body.mid(request.body.indexOf("\"ts\":") + 5);
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d{13}[,}]")).match(QString::fromLatin1(tsText)).hasMatch(),
                 request.body.constData());
        const qint64 ts = event.value(QStringLiteral("ts")).toInteger();
        QVERIFY(ts >= before && ts <= QDateTime::currentMSecsSinceEpoch());
    }

    void send_lastLineWinsAndOtherLinesAreIgnored()
    {
        DebugCollector collector;
        QVERIFY(collector.isListening());
        writeDiagnosticsFile("# comment\n\nDEBUG_SESSION_ID=first\nDEBUG_SERVER_URL=http://127.0.0.1:1/x\n"
                             "debug_session_id=lower\nDEBUG_SERVER_URL=" +
                             collector.url() + "\nDEBUG_SESSION_ID= 会话 2 \n");
        sendDebugEvent(QStringLiteral("VoxleAppState.cancelRecording"),
                       QStringLiteral("[DEBUG] cancelRecording called"), QString());
        QTRY_COMPARE(collector.requests.size(), 1);
        const QJsonObject event = collector.requests.first().event();
        QCOMPARE(event.value(QStringLiteral("sessionId")).toString(), QStringLiteral(" 会话 2 ")); // untrimmed
        QCOMPARE(event.value(QStringLiteral("hypothesisId")).toString(), QString());
        // No data given: still an empty object.
        QVERIFY2(collector.requests.first().body.contains("\"data\":{}"), collector.requests.first().body.constData());
    }

    void send_carriageReturnInUrl_sendsNothing()
    {
        DebugCollector collector;
        QVERIFY(collector.isListening());
        writeDiagnosticsFile("DEBUG_SERVER_URL=" + collector.url() + "\r\nDEBUG_SESSION_ID=crlf\r\n");
        sendDebugEvent(QStringLiteral("A.b"), QStringLiteral("dropped"), QStringLiteral("A"));

        // A later valid event is the marker: once it arrived, the dropped one would have arrived before it.
        writeDiagnosticsFile("DEBUG_SERVER_URL=" + collector.url() + "\nDEBUG_SESSION_ID=crlf\r\n");
        sendDebugEvent(QStringLiteral("A.b"), QStringLiteral("marker"), QStringLiteral("A"));
        QTRY_COMPARE(collector.requests.size(), 1);
        QTest::qWait(100); // a little grace for a stray connection
        QCOMPARE(collector.requests.size(), 1);
        const QJsonObject event = collector.requests.first().event();
        QCOMPARE(event.value(QStringLiteral("msg")).toString(), QStringLiteral("marker"));
        // The carriage return stays part of the session id.
        QCOMPARE(event.value(QStringLiteral("sessionId")).toString(), QStringLiteral("crlf\r"));
    }

    void send_onlySessionIdInFile_usesDefaultCollector()
    {
        // The default collector port is fixed; when something else holds it this case cannot run here.
        DebugCollector collector(7777);
        if (!collector.isListening())
            QSKIP("127.0.0.1:7777 is in use on this machine");
        writeDiagnosticsFile("DEBUG_SESSION_ID=only-session\n");
        sendDebugEvent(QStringLiteral("A.b"), QStringLiteral("m"), QStringLiteral("A"));
        removeDiagnosticsFile();
        sendDebugEvent(QStringLiteral("A.b"), QStringLiteral("no file"), QStringLiteral("A"));
        QTRY_COMPARE(collector.requests.size(), 2);
        QStringList seen;
        for (const Request &request : std::as_const(collector.requests)) {
            QCOMPARE(request.path, QByteArray("/event"));
            const QJsonObject event = request.event();
            seen << event.value(QStringLiteral("msg")).toString() + QLatin1Char('|') +
                        event.value(QStringLiteral("sessionId")).toString();
        }
        seen.sort();
        QCOMPARE(seen,
                 (QStringList{QStringLiteral("m|only-session"), QStringLiteral("no file|fn-hotkey-not-effective")}));
    }

    void config_fileCutInsideACharacter_readsAsDefaults()
    {
        // Not UTF-8 once the last character is cut in half, so neither value is taken.
        const DebugEventConfig config =
            DebugEventConfig::fromFileContents("DEBUG_SESSION_ID=\xe4\xbc\x9a\nDEBUG_SERVER_URL=http://h/\xe4\xbc");
        QCOMPARE(config.sessionId, DebugEventConfig().sessionId);
        QCOMPARE(config.collectorUrl, DebugEventConfig().collectorUrl);
    }

    void send_noCollector_doesNotSlowTheCaller()
    {
        // Nothing listens on a port just released, nor (usually) on the default one.
        quint16 deadPort = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            deadPort = probe.serverPort();
        }
        const QList<QByteArray> files = {
            "DEBUG_SERVER_URL=http://127.0.0.1:" + QByteArray::number(deadPort) + "/event\n", QByteArray()};
        for (const QByteArray &file : files) {
            if (file.isEmpty())
                removeDiagnosticsFile();
            else
                writeDiagnosticsFile(file);
            qint64 slowest = 0;
            for (int i = 0; i < 50; ++i) {
                QElapsedTimer timer;
                timer.start();
                sendDebugEvent(QStringLiteral("A.b"), QStringLiteral("nobody listens"), QStringLiteral("A"),
                               QJsonObject{{QStringLiteral("i"), i}});
                slowest = qMax(slowest, timer.elapsed());
            }
            // A sanity bound, not a performance figure: the call only reads a small file and queues the POST.
            QVERIFY2(slowest < 50, qPrintable(QStringLiteral("slowest call took %1 ms").arg(slowest)));
        }
        QTest::qWait(200); // let the refused connections finish before the sender shuts down
    }
};

QTEST_GUILESS_MAIN(TestDebugEvent)
#include "tst_DebugEvent.moc"
