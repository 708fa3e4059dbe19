#include "diagnostics/DebugCollector.h"
#include "diagnostics/DebugEvent.h"
#include "diagnostics/DebugEventConfig.h"
#include "hotkeys/QuietDebugEvents.h"

#include <QTest>
#include <QThread>

namespace {
using Request = DebugCollector::Request;
} // namespace

class TestDebugEvent : public QObject
{
    Q_OBJECT

    QuietDebugEvents m_home;

private slots:

    // Compact, integers as JSON integers (never 12.0 or 1.7e12), no data still an empty object.
    void send_fileWithOnlyUrl_postsTheExactRecordWithDefaultSessionIdFromAnyThread()
    {
        DebugCollector collector;
        QVERIFY(m_home.write("DEBUG_SERVER_URL=" + collector.url() + "\n"));
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        const QString location = QStringLiteral("TextInjectionService.injectAtCursor");
        const QString message = QStringLiteral("[DEBUG] inject enter");
        const QJsonObject data{{QStringLiteral("flags"), qint64(8388608)}, {QStringLiteral("fn"), true}};
        // Hotkey and audio code call in from their own threads.
        QScopedPointer<QThread> thread(
            QThread::create([&] { sendDebugEvent(location, message, QStringLiteral("C"), data); }));
        thread->start();
        QVERIFY(thread->wait(5000));
        QTRY_COMPARE(collector.requests.size(), 1);

        const Request &request = collector.requests.first();
        QCOMPARE(request.method + ' ' + request.path + ' ' + request.contentType,
                 QByteArray("POST /event application/json"));
        const qint64 ts = request.event().value(QStringLiteral("ts")).toInteger();
        QVERIFY(ts >= before && ts <= QDateTime::currentMSecsSinceEpoch());
        QCOMPARE(request.body, debugEventBody(DebugEventConfig(), location, message, QStringLiteral("C"), data, ts));

        DebugEventConfig config;
        config.sessionId = QStringLiteral(" 会话 2 ");
        QCOMPARE(debugEventBody(config, QStringLiteral("A.b"), QStringLiteral("m"), QString(),
                                QJsonObject{{QStringLiteral("flags"), qint64(8388608)}}, 1765000000123),
                 QByteArray(R"({"data":{"flags":8388608},"hypothesisId":"","location":"A.b","msg":"m",)"
                            R"("runId":"pre-fix","sessionId":" 会话 2 ","ts":1765000000123})"));
        QCOMPARE(
            debugEventBody(DebugEventConfig(), QStringLiteral("A.b"), QStringLiteral("m"), QStringLiteral("A"), {}, 1),
            QByteArray(R"({"data":{},"hypothesisId":"A","location":"A.b","msg":"m","runId":"pre-fix",)"
                       R"("sessionId":"fn-hotkey-not-effective","ts":1})"));
    }

    // The last line of each kind wins, other lines are ignored and nothing is trimmed; a carriage return makes
    // the address unusable; a file that is not UTF-8 (a character cut in half) reads as no file.
    void config_linesOfTheFile()
    {
        const DebugEventConfig last = DebugEventConfig::fromFileContents(
            "# comment\n\nDEBUG_SESSION_ID=first\nDEBUG_SERVER_URL=http://127.0.0.1:1/x\n"
            "debug_session_id=lower\nDEBUG_SERVER_URL=http://127.0.0.1:2/event\nDEBUG_SESSION_ID= 会话 2 \n");
        QCOMPARE(last.sessionId, QStringLiteral(" 会话 2 "));
        QCOMPARE(last.collectorEndpoint(), std::optional(QUrl(QStringLiteral("http://127.0.0.1:2/event"))));

        const DebugEventConfig crlf = DebugEventConfig::fromFileContents(
            "DEBUG_SERVER_URL=http://127.0.0.1:2/event\r\nDEBUG_SESSION_ID=crlf\r\n");
        QCOMPARE(crlf.sessionId, QStringLiteral("crlf\r"));
        QCOMPARE(crlf.collectorEndpoint(), std::nullopt);

        const DebugEventConfig cut =
            DebugEventConfig::fromFileContents("DEBUG_SESSION_ID=\xe4\xbc\x9a\nDEBUG_SERVER_URL=http://h/\xe4\xbc");
        QCOMPARE(cut.sessionId, DebugEventConfig().sessionId);
        QCOMPARE(cut.collectorUrl, DebugEventConfig().collectorUrl);

        // A file naming only the session sends to the fixed local collector.
        QVERIFY(m_home.write("DEBUG_SESSION_ID=only-session\n"));
        const DebugEventConfig loaded = DebugEventConfig::load();
        QCOMPARE(loaded.sessionId, QStringLiteral("only-session"));
        QCOMPARE(loaded.collectorEndpoint(), std::optional(QUrl(QStringLiteral("http://127.0.0.1:7777/event"))));
    }
};

QTEST_GUILESS_MAIN(TestDebugEvent)
#include "tst_DebugEvent.moc"
