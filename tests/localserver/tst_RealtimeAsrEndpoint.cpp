#include "support/LocalServerProcess.h"

#include <QJsonDocument>
#include <QNetworkRequest>
#include <QTest>
#include <QWebSocket>
#include <memory>

// The stand-in's front and realtime recognition endpoint, spoken to by a plain WebSocket client. The
// recognition client's own test drives the successful runs and the refused keys.
class TestRealtimeAsrEndpoint : public QObject
{
    Q_OBJECT

    LocalServerProcess m_server;

    struct Client {
        QWebSocket socket;
        QList<QJsonObject> events;
        bool closed = false;
    };

    std::unique_ptr<Client> connectClient()
    {
        auto client = std::make_unique<Client>();
        Client *c = client.get();
        connect(&c->socket, &QWebSocket::textMessageReceived, this,
                [c](const QString &text) { c->events << QJsonDocument::fromJson(text.toUtf8()).object(); });
        connect(&c->socket, &QWebSocket::disconnected, this, [c]() { c->closed = true; });
        QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/api-ws/v1/inference").arg(m_server.port())));
        request.setRawHeader("Authorization", "Bearer sk-local-test");
        c->socket.open(request);
        return client;
    }

    static constexpr char taskId[] = "0123456789ABCDEF0123456789ABCDEF";

    // The client's run-task message, with one part replaced (`from` -> `to`) to make it faulty.
    static QString runTask(const QString &from = {}, const QString &to = {})
    {
        QString message = QStringLiteral(R"({"header":{"action":"run-task","task_id":"%1","streaming":"duplex"},)"
                                         R"("payload":{"task_group":"audio","task":"asr","function":"recognition",)"
                                         R"("model":"fun-asr-realtime","parameters":{"format":"pcm",)"
                                         R"("sample_rate":16000},"input":{}}})")
                              .arg(QLatin1String(taskId));
        return from.isEmpty() ? message : message.replace(from, to);
    }
    static QString finishTask(const QString &id = QLatin1String(taskId))
    {
        return QStringLiteral(R"({"header":{"action":"finish-task","task_id":"%1","streaming":"duplex"},)"
                              R"("payload":{"input":{}}})")
            .arg(id);
    }
    static QJsonObject header(const QJsonObject &e) { return e.value(QStringLiteral("header")).toObject(); }
    static QString eventName(const QJsonObject &e) { return header(e).value(QStringLiteral("event")).toString(); }

private slots:
    void initTestCase() { QVERIFY(m_server.start({QStringLiteral("--engine"), QStringLiteral("scripted")})); }

    void http_unknownRoutesAndBadBodies()
    {
        QByteArray body;
        QCOMPARE(m_server.request("GET", QStringLiteral("/nowhere"), {}, &body), 404);
        QVERIFY(QJsonDocument::fromJson(body).object().contains(QStringLiteral("message")));
        QCOMPARE(m_server.request("POST", QStringLiteral("/__control/asr"), "[1,2"), 400);
    }

    // What the real service refuses, the stand-in refuses: each row is one faulty client.
    void task_protocolFaults_failTheTask_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QStringList>("frames"); // text frames as they are; "#n" is n bytes of audio
        QTest::addColumn<QString>("failure");    // empty: the task finishes and the socket stays open
        const auto row = [](const char *name, const char *script, const QStringList &frames, const char *failure) {
            QTest::newRow(name) << QString::fromUtf8(script) << frames << QString::fromUtf8(failure);
        };
        const QString ok = runTask();
        row("audio before task-started", "{}", {ok, QStringLiteral("#1024")},
            "task-failed CLIENT_ERROR audio data sent before task-started");
        row("no input", "{}", {runTask(QStringLiteral(R"(,"input":{})"), QString())},
            "task-failed InvalidParameter Invalid payload data");
        row("task id form", "{}", {runTask(QLatin1String(taskId), QStringLiteral("T1"))},
            "task-failed InvalidParameter invalid task_id");
        row("not duplex", "{}", {runTask(QStringLiteral("duplex"), QStringLiteral("simplex"))},
            "task-failed InvalidParameter header.streaming must be duplex");
        row("wrong function", "{}", {runTask(QStringLiteral("recognition"), QStringLiteral("synthesis"))},
            "task-failed InvalidParameter unsupported task_group/task/function");
        row("unknown model", "{}", {runTask(QStringLiteral("fun-asr-realtime"), QStringLiteral("qwen-plus"))},
            "task-failed ModelNotFound Model not exist.");
        row("format", "{}", {runTask(QStringLiteral(R"("pcm")"), QStringLiteral(R"("wav")"))},
            "task-failed InvalidParameter.Format format must be pcm at 16000 Hz");
        row("sample rate", "{}", {runTask(QStringLiteral("16000"), QStringLiteral("8000"))},
            "task-failed InvalidParameter.Format format must be pcm at 16000 Hz");
        row("second run-task", R"({"task_started_delay_ms":0})", {ok, ok},
            "task-failed InvalidParameter task already started");
        row("finish-task of another task", R"({"task_started_delay_ms":0})",
            {ok, QStringLiteral("=task-started"), QStringLiteral("#1024"),
             finishTask(QStringLiteral("F").repeated(32))},
            "task-failed InvalidParameter task_id does not match the running task");
        row("finish-task before task-started", "{}", {ok, finishTask()},
            "task-failed CLIENT_ERROR finish-task sent before task-started");
        row("oversized frame", R"({"task_started_delay_ms":0,"max_frame_bytes":2048})",
            {ok, QStringLiteral("=task-started"), QStringLiteral("#4096")},
            "task-failed InvalidParameter audio frame too large");
        row("no audio for too long", R"({"task_started_delay_ms":0,"idle_timeout_ms":1000})", {ok},
            "task-failed CLIENT_ERROR request timeout after 1 seconds.");
        row("silence without heartbeat", R"({"task_started_delay_ms":0,"silence_timeout_ms":2000})",
            {ok, QStringLiteral("=task-started"), QStringLiteral("#32000"), QStringLiteral("#32000")},
            "task-failed CLIENT_ERROR request timeout after 2 seconds.");
        const QString heartbeat = runTask(QStringLiteral(R"("sample_rate":16000)"),
                                          QStringLiteral(R"("sample_rate":16000,"heartbeat":true)"));
        // With heartbeats silence is kept (past its limit here) and only the finish finds no speech in it.
        row("silence with heartbeat", R"({"task_started_delay_ms":0,"silence_timeout_ms":1000})",
            {heartbeat, QStringLiteral("=task-started"), QStringLiteral("#32000"), QStringLiteral("#32000"),
             QStringLiteral("#32000"), finishTask()},
            "task-failed NO_VALID_AUDIO_ERROR no valid audio");
    }

    void task_protocolFaults_failTheTask()
    {
        QFETCH(QString, script);
        QFETCH(QStringList, frames);
        QFETCH(QString, failure);
        QVERIFY(m_server.setAsrScript(QJsonDocument::fromJson(script.toUtf8()).object()));
        auto c = connectClient();
        QTRY_VERIFY(c->socket.state() == QAbstractSocket::ConnectedState);
        for (const QString &frame : frames) {
            if (frame.startsWith(QLatin1Char('=')))
                QTRY_VERIFY(!c->events.isEmpty() && eventName(c->events.last()) == frame.mid(1));
            else if (frame.startsWith(QLatin1Char('#')))
                c->socket.sendBinaryMessage(QByteArray(frame.mid(1).toInt(), '\0'));
            else
                c->socket.sendTextMessage(frame);
        }
        QTRY_VERIFY_WITH_TIMEOUT(c->closed, 8000);
        const QJsonObject h = header(c->events.last());
        QCOMPARE(h.value(QStringLiteral("event")).toString() + QLatin1Char(' ') +
                     h.value(QStringLiteral("error_code")).toString() + QLatin1Char(' ') +
                     h.value(QStringLiteral("error_message")).toString(),
                 failure);
    }
};

QTEST_GUILESS_MAIN(TestRealtimeAsrEndpoint)
#include "tst_RealtimeAsrEndpoint.moc"
