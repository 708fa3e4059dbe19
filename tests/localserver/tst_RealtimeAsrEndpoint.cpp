#include "net/LocalServerProcess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkRequest>
#include <QTcpSocket>
#include <QTest>
#include <QWebSocket>
#include <memory>

// The stand-in's front and realtime recognition endpoint, spoken to with plain sockets.
class TestRealtimeAsrEndpoint : public QObject
{
    Q_OBJECT

    LocalServerProcess m_server;

    struct Client {
        QWebSocket socket;
        QList<QJsonObject> events;
        bool closed = false;
    };

    std::unique_ptr<Client> connectClient(const QByteArray &key = "sk-local-test")
    {
        auto client = std::make_unique<Client>();
        Client *c = client.get();
        connect(&c->socket, &QWebSocket::textMessageReceived, this,
                [c](const QString &text) { c->events << QJsonDocument::fromJson(text.toUtf8()).object(); });
        connect(&c->socket, &QWebSocket::disconnected, this, [c]() { c->closed = true; });
        QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/api-ws/v1/inference").arg(m_server.port())));
        request.setRawHeader("Authorization", "Bearer " + key);
        c->socket.open(request);
        return client;
    }

    // The client's run-task message; without "input" it is malformed.
    static QString runTask(bool withInput = true)
    {
        return QStringLiteral(R"({"header":{"action":"run-task","task_id":"T1","streaming":"duplex"},)"
                              R"("payload":{"task_group":"audio","task":"asr","function":"recognition",)"
                              R"("model":"fun-asr-realtime","parameters":{"format":"pcm","sample_rate":16000}%1}})")
            .arg(withInput ? QStringLiteral(R"(,"input":{})") : QString());
    }

    static QJsonObject header(const QJsonObject &e) { return e.value(QStringLiteral("header")).toObject(); }
    static QString eventName(const QJsonObject &e) { return header(e).value(QStringLiteral("event")).toString(); }
    static QJsonObject sentence(const QJsonObject &e)
    {
        return e.value(QStringLiteral("payload"))
            .toObject()
            .value(QStringLiteral("output"))
            .toObject()
            .value(QStringLiteral("sentence"))
            .toObject();
    }

private slots:
    void initTestCase() { QVERIFY(m_server.start({QStringLiteral("--engine"), QStringLiteral("scripted")})); }

    void http_unknownRoutesAndBadBodies()
    {
        QByteArray body;
        QCOMPARE(m_server.request("GET", QStringLiteral("/nowhere"), {}, &body), 404);
        QVERIFY(QJsonDocument::fromJson(body).object().contains(QStringLiteral("message")));
        QCOMPARE(m_server.request("GET", QStringLiteral("/__control/asr")), 405);
        QCOMPARE(m_server.request("POST", QStringLiteral("/__control/asr"), "[1,2"), 400);
        QCOMPARE(m_server.request("POST", QStringLiteral("/__control/asr"), "{}"), 200);
    }

    void http_bodyArrivingInPieces_isReadWhole()
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_server.port());
        QVERIFY(socket.waitForConnected(5000));
        const QByteArray body = R"({"sentences":["分两次。"]})";
        socket.write("POST /__control/asr HTTP/1.1\r\nHost: x\r\nContent-Length: " + QByteArray::number(body.size()) +
                     "\r\n\r\n" + body.left(5));
        QVERIFY(socket.waitForBytesWritten(5000));
        QVERIFY(!socket.waitForReadyRead(200)); // nothing answered before the body is complete
        socket.write(body.mid(5));
        QByteArray in;
        while (socket.waitForReadyRead(5000))
            in += socket.readAll();
        QVERIFY2(in.startsWith("HTTP/1.1 200"), in.constData());
    }

    void upgrade_wrongOrMissingKey_is401WithJson()
    {
        for (const QByteArray &auth : {QByteArray("Authorization: Bearer sk-wrong\r\n"), QByteArray()}) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, m_server.port());
            QVERIFY(socket.waitForConnected(5000));
            socket.write(
                "GET /api-ws/v1/inference HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" +
                auth + "\r\n");
            QByteArray in;
            while (socket.waitForReadyRead(5000))
                in += socket.readAll();
            QVERIFY2(in.startsWith("HTTP/1.1 401"), in.constData());
            const QJsonObject body = QJsonDocument::fromJson(in.mid(in.indexOf("\r\n\r\n") + 4)).object();
            QCOMPARE(body.value(QStringLiteral("code")).toString(), QStringLiteral("InvalidApiKey"));
        }
    }

    void task_startedResultsFinished()
    {
        QVERIFY(m_server.setAsrScript(QJsonObject{{QStringLiteral("sentences"), QJsonArray{QStringLiteral("你好。")}},
                                                  {QStringLiteral("bytes_per_char"), 1000}}));
        auto c = connectClient();
        QTRY_VERIFY(c->socket.state() == QAbstractSocket::ConnectedState);
        c->socket.sendTextMessage(runTask());
        QTRY_COMPARE(c->events.size(), 1);
        QCOMPARE(eventName(c->events.first()), QStringLiteral("task-started"));
        QCOMPARE(header(c->events.first()).value(QStringLiteral("task_id")).toString(), QStringLiteral("T1"));
        c->socket.sendBinaryMessage(QByteArray(2000, '\0'));
        QTRY_COMPARE(c->events.size(), 3);
        const QJsonObject partial = sentence(c->events.at(1));
        QCOMPARE(eventName(c->events.at(1)), QStringLiteral("result-generated"));
        QCOMPARE(partial.value(QStringLiteral("text")).toString(), QStringLiteral("你"));
        QCOMPARE(partial.value(QStringLiteral("sentence_end")).toBool(true), false);
        QVERIFY(partial.value(QStringLiteral("end_time")).isNull());
        QVERIFY(partial.value(QStringLiteral("begin_time")).isDouble());
        c->socket.sendTextMessage(QStringLiteral(
            R"({"header":{"action":"finish-task","task_id":"T1","streaming":"duplex"},"payload":{"input":{}}})"));
        QTRY_COMPARE(eventName(c->events.last()), QStringLiteral("task-finished"));
        const QJsonObject last = sentence(c->events.at(c->events.size() - 2));
        QCOMPARE(last.value(QStringLiteral("text")).toString(), QStringLiteral("你好。"));
        QCOMPARE(last.value(QStringLiteral("sentence_end")).toBool(), true);
        QVERIFY(last.value(QStringLiteral("end_time")).isDouble());
        QVERIFY(!c->closed); // the service keeps the socket after task-finished
    }

    void task_failures_reportCodeThenClose()
    {
        QVERIFY(m_server.setAsrScript(QJsonObject{
            {QStringLiteral("fail"), QJsonObject{{QStringLiteral("code"), QStringLiteral("Throttling")},
                                                 {QStringLiteral("message"), QStringLiteral("rate limited")},
                                                 {QStringLiteral("at_bytes"), 10}}}}));
        auto c = connectClient();
        QTRY_VERIFY(c->socket.state() == QAbstractSocket::ConnectedState);
        c->socket.sendTextMessage(runTask());
        c->socket.sendBinaryMessage(QByteArray(64, '\0'));
        QTRY_VERIFY(c->closed);
        QCOMPARE(eventName(c->events.last()), QStringLiteral("task-failed"));
        QCOMPARE(header(c->events.last()).value(QStringLiteral("error_code")).toString(), QStringLiteral("Throttling"));
        QCOMPARE(header(c->events.last()).value(QStringLiteral("error_message")).toString(),
                 QStringLiteral("rate limited"));

        QVERIFY(m_server.setAsrScript(QJsonObject{}));
        auto bad = connectClient();
        QTRY_VERIFY(bad->socket.state() == QAbstractSocket::ConnectedState);
        bad->socket.sendTextMessage(runTask(false));
        QTRY_VERIFY(bad->closed);
        QCOMPARE(eventName(bad->events.last()), QStringLiteral("task-failed"));
        QCOMPARE(header(bad->events.last()).value(QStringLiteral("error_message")).toString(),
                 QStringLiteral("Invalid payload data"));
    }
};

QTEST_GUILESS_MAIN(TestRealtimeAsrEndpoint)
#include "tst_RealtimeAsrEndpoint.moc"
