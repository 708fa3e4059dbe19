#include "asr/ProxyRecognition.h"
#include "net/AwaitResult.h"
#include "net/LocalServerProcess.h"
#include "net/Settle.h"
#include "net/VoxleServerApi.h"
#include "platform/fake/ManualClock.h"

#include <QJsonArray>
#include <QTest>

namespace {
QJsonObject headersOf(const QJsonValue &request)
{
    return request.toObject().value(QStringLiteral("headers")).toObject();
}

QByteArray bodyOf(const QJsonValue &request)
{
    return QByteArray::fromBase64(request.toObject().value(QStringLiteral("body_base64")).toString().toLatin1());
}

QByteArray onePcmSecond()
{
    QByteArray pcm(32000, Qt::Uninitialized);
    for (int i = 0; i < pcm.size(); ++i)
        pcm[i] = char((i * 31) & 0xff);
    return pcm;
}
} // namespace

// The backend client over real loopback HTTP to voxle-localserver.
class TestServerApi : public QObject
{
    Q_OBJECT
private:
    LocalServerProcess m_server;
    QNetworkAccessManager m_nam;
    ManualClock m_clock;

    VoxleServerApi api() { return VoxleServerApi(m_server.origin(), m_nam, m_clock); }

    Result<VoxleTextResponse> polish()
    {
        VoxleServerApi client = api();
        return QCoro::waitFor(settle(client.post<VoxleTextResponse>(
            QStringLiteral("/api/text/polish"),
            VoxlePolishRequest{QStringLiteral("嗯，你好"), QStringLiteral("NotesOrEmail")}, std::nullopt,
            {{QStringLiteral("X-Device-Id"), QString(64, QLatin1Char('a'))}})));
    }

private slots:
    void initTestCase() { QVERIFY(m_server.start({QStringLiteral("--sms-code"), QStringLiteral("246810")})); }

    void errorBodies_becomeOneMessage_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("contentType");
        QTest::addColumn<QString>("expected");
        const QString jsonType = QStringLiteral("application/json");
        QTest::newRow("422 detail list") << 422
                                         << QByteArray(
                                                R"({"detail":[{"loc":["body","phone"],"msg":"field required"}]})")
                                         << jsonType << QStringLiteral("field required");
        QTest::newRow("400 detail") << 400 << QByteArray(R"({"detail":"bad phone"})") << jsonType
                                    << QStringLiteral("bad phone");
        QTest::newRow("400 error object")
            << 400 << QByteArray(R"({"error":{"message":"x"}})") << jsonType << QStringLiteral("x");
        QTest::newRow("400 empty message")
            << 400 << QByteArray(R"({"message":""})") << jsonType << QStringLiteral("请求失败（HTTP 400）");
        // The first non-empty string among the candidates wins; anything else is no message.
        const QString http400 = QStringLiteral("请求失败（HTTP 400）");
        QTest::newRow("message first") << 400 << QByteArray(R"({"message":"m","detail":"d"})") << jsonType
                                       << QStringLiteral("m");
        QTest::newRow("empty message falls through")
            << 400 << QByteArray(R"({"message":"","error":{"message":"e"}})") << jsonType << QStringLiteral("e");
        QTest::newRow("detail strings") << 400 << QByteArray(R"({"detail":["x"]})") << jsonType << http400;
        QTest::newRow("number message") << 400 << QByteArray(R"({"message":5})") << jsonType << http400;
        QTest::newRow("array") << 400 << QByteArray(R"([{"message":"m"}])") << jsonType << http400;
        QTest::newRow("500 html") << 500 << QByteArray("<html><h1>Internal Server Error</h1></html>")
                                  << QStringLiteral("text/html") << QStringLiteral("请求失败（HTTP 500）");
        QTest::newRow("200 empty") << 200 << QByteArray() << jsonType << QStringLiteral("返回解析失败");
        QTest::newRow("200 missing key") << 200 << QByteArray(R"({"result":"x"})") << jsonType
                                         << QStringLiteral("返回解析失败");
        // A body past a few MiB is not read to its end; a server's message is shown cut to a line's length.
        QTest::newRow("200 oversized") << 200
                                       << QByteArray(R"({"text":")") + QByteArray(5 << 20, 'a') + QByteArray(R"("})")
                                       << jsonType << QStringLiteral("返回解析失败");
        QTest::newRow("400 long message")
            << 400 << (QStringLiteral(R"({"message":")") + QString(300, u'长') + QStringLiteral(R"("})")).toUtf8()
            << jsonType << QString(200, u'长') + QStringLiteral("…");
    }
    void errorBodies_becomeOneMessage()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, contentType);
        QFETCH(QString, expected);
        QVERIFY(m_server.script({LocalServerProcess::rule(QStringLiteral("POST"), QStringLiteral("/api/text/polish"),
                                                          status, body, contentType)}));
        const auto result = polish();
        QVERIFY(!result);
        QCOMPARE(result.error(), expected);
    }

    // Which endpoint carries a token or device id is the account's business; the client adds the body's type.
    void headers_contentTypeOnlyWithABody()
    {
        QVERIFY(m_server.script({}));
        QVERIFY(polish());
        const QJsonArray posts = m_server.requestsTo(QStringLiteral("/api/text/polish"));
        QCOMPARE(headersOf(posts.at(0)).value(QStringLiteral("content-type")).toString(),
                 QStringLiteral("application/json"));
        VoxleServerApi client = api();
        QVERIFY(QCoro::waitFor(settle(
            client.get<VoxleSliderChallengeResponse>(QStringLiteral("/api/auth/slider-challenge"), std::nullopt, {}))));
        const QJsonArray gets = m_server.requestsTo(QStringLiteral("/api/auth/slider-challenge"));
        QCOMPARE(gets.size(), 1);
        QVERIFY(!headersOf(gets.at(0)).contains(QStringLiteral("content-type")));
        QVERIFY(!headersOf(gets.at(0)).contains(QStringLiteral("authorization")));
    }

    void upload_sendsExactMultipartWav()
    {
        QVERIFY(m_server.script({}));
        QCOMPARE(
            m_server.request("POST", QStringLiteral("/__control/asr"), R"({"sentences":["你好。","今天天气不错"]})"),
            200);
        const QByteArray pcm = onePcmSecond();
        const QString deviceId(64, QLatin1Char('b'));
        VoxleServerApi client = api();
        const auto first = QCoro::waitFor(ProxyRecognition::recognizeViaProxy(client, pcm, deviceId, std::nullopt, {}));
        QCOMPARE(first.error(), QString());
        QCOMPARE(first.toOptional(), std::optional(QStringLiteral("你好。今天天气不错")));
        const auto second = QCoro::waitFor(
            ProxyRecognition::recognizeViaProxy(client, pcm, deviceId, QStringLiteral("tok-1234567890"), {}));
        QVERIFY(!second.error().isEmpty()); // the token is unknown to the server, but it was sent

        const QJsonArray uploads = m_server.requestsTo(QStringLiteral("/api/speech/recognize"));
        QCOMPARE(uploads.size(), 2);
        QList<QByteArray> boundaries;
        for (const QJsonValue &upload : uploads) {
            const QString contentType = headersOf(upload).value(QStringLiteral("content-type")).toString();
            QVERIFY(contentType.startsWith(QStringLiteral("multipart/form-data; boundary=Boundary-")));
            const QByteArray boundary = contentType.mid(contentType.indexOf(QLatin1Char('=')) + 1).toLatin1();
            boundaries << boundary;
            QCOMPARE(bodyOf(upload), VoxleServerApi::multipartBody(
                                         boundary, QStringLiteral("file"), QStringLiteral("audio.wav"),
                                         QStringLiteral("audio/wav"), ProxyRecognition::makeWav(pcm, 16000, 1)));
            QCOMPARE(headersOf(upload).value(QStringLiteral("x-device-id")).toString(), deviceId);
        }
        QVERIFY(boundaries.at(0) != boundaries.at(1));
        QVERIFY(!headersOf(uploads.at(0)).contains(QStringLiteral("authorization")));
        QCOMPARE(headersOf(uploads.at(1)).value(QStringLiteral("authorization")).toString(),
                 QStringLiteral("Bearer tok-1234567890"));
    }

    void upload_reportsTheEngineFailure()
    {
        QVERIFY(m_server.script({}));
        VoxleServerApi client = api();
        QCOMPARE(m_server.request("POST", QStringLiteral("/__control/asr"),
                                  R"({"fail":{"code":"NO_VALID_AUDIO_ERROR","message":"no valid audio"}})"),
                 200);
        const auto failed = QCoro::waitFor(
            ProxyRecognition::recognizeViaProxy(client, onePcmSecond(), QString(64, u'c'), std::nullopt, {}));
        QVERIFY(!failed);
        QCOMPARE(failed.error(), QStringLiteral("no valid audio"));
    }

    void timeout_runsOnTheInjectedClock()
    {
        QVERIFY(m_server.script(LocalServerProcess::hang(QStringLiteral("/api/auth/me"))));
        VoxleServerApi client = api();
        auto task = settle(client.get<VoxleUserSummaryDto>(QStringLiteral("/api/auth/me"), QStringLiteral("t"), {}));
        QVERIFY(spinUntil([&] { return m_server.requestsTo(QStringLiteral("/api/auth/me")).size() == 1; }));
        m_clock.advance(VoxleServerApi::kTimeoutMs - 1);
        QCoreApplication::processEvents();
        QVERIFY(!task.isReady());
        m_clock.advance(1);
        const auto result = QCoro::waitFor(task);
        QCOMPARE(result.error(), QStringLiteral("连接超时"));
    }

    void cancel_abortsTheReply()
    {
        QVERIFY(m_server.script(LocalServerProcess::hang(QStringLiteral("/api/text/polish"))));
        VoxleServerApi client = api();
        CancelToken cancel;
        auto task = settle(client.post<VoxleTextResponse>(QStringLiteral("/api/text/polish"),
                                                          VoxlePolishRequest{QStringLiteral("a"), QStringLiteral("b")},
                                                          std::nullopt, {}, cancel));
        QVERIFY(spinUntil([&] { return m_server.requestsTo(QStringLiteral("/api/text/polish")).size() == 1; }));
        cancel.cancel();
        const auto result = QCoro::waitFor(task);
        QCOMPARE(result.error(), QStringLiteral("请求已取消"));
        QCOMPARE(m_clock.pendingTimers(), 0);
    }
};

QTEST_GUILESS_MAIN(TestServerApi)
#include "tst_ServerApi.moc"
