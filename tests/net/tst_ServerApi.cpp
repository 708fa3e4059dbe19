#include "asr/ProxyRecognition.h"
#include "net/AwaitResult.h"
#include "net/LocalServerProcess.h"
#include "net/Settle.h"
#include "net/TlsFixture.h"
#include "net/VoxleServerApi.h"
#include "platform/fake/ManualClock.h"

#include <QJsonArray>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
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

// The backend client over real loopback HTTP to voxle-localserver and to raw sockets of the test's own; what
// the user reads is always the product's own Chinese, never the transport's.
class TestServerApi : public QObject
{
    Q_OBJECT
private:
    LocalServerProcess m_server;
    QTcpServer m_proxy;
    QList<QByteArray> m_requestLines; // as the raw servers saw them
    QNetworkAccessManager m_nam;
    ManualClock m_clock;

    VoxleServerApi api() { return VoxleServerApi(m_server.origin(), m_nam, m_clock); }

    Result<VoxleTextResponse> polish(const QString &origin = {})
    {
        VoxleServerApi client(origin.isEmpty() ? m_server.origin() : QUrl(origin), m_nam, m_clock);
        return QCoro::waitFor(settle(client.post<VoxleTextResponse>(
            QStringLiteral("/api/text/polish"),
            VoxlePolishRequest{QStringLiteral("嗯，你好"), QStringLiteral("NotesOrEmail")}, std::nullopt,
            {{QStringLiteral("X-Device-Id"), QString(64, QLatin1Char('a'))}})));
    }

    // Every request to `server` gets `answer` and the connection closes; an empty answer closes without one.
    void answerWith(QTcpServer &server, const QByteArray &answer)
    {
        connect(&server, &QTcpServer::newConnection, this, [this, &server, answer]() {
            QTcpSocket *s = server.nextPendingConnection();
            connect(s, &QTcpSocket::readyRead, s, [this, s, answer]() {
                QObject::disconnect(s, &QTcpSocket::readyRead, nullptr, nullptr); // one answer per connection
                m_requestLines << s->readLine().trimmed();
                s->readAll();
                s->write(answer);
                s->disconnectFromHost();
            });
        });
    }

private slots:
    void initTestCase()
    {
        // The system's proxy setting points at a proxy of the test's own.
        QVERIFY(m_proxy.listen(QHostAddress::LocalHost, 0));
        answerWith(m_proxy, "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 22\r\n"
                            "Connection: close\r\n\r\n{\"text\":\"via proxy\"}");
        const QByteArray proxy = "http://127.0.0.1:" + QByteArray::number(m_proxy.serverPort());
        for (const char *name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY"})
            qputenv(name, proxy);
        qunsetenv("no_proxy");
        qunsetenv("NO_PROXY");
        QVERIFY(m_server.start());
    }

    void loopbackGoesDirectAndOtherHostsUseTheSystemProxy()
    {
        QVERIFY(m_server.script({}));
        const auto local = polish();
        QCOMPARE(local.error(), QString());
        QVERIFY(local && local->text != QStringLiteral("via proxy"));
        QVERIFY(m_requestLines.isEmpty());
        // 192.0.2.1 is reserved for documentation: only the proxy can answer for it.
        const auto remote = polish(QStringLiteral("http://192.0.2.1"));
        QCOMPARE(remote ? remote->text : remote.error(), QStringLiteral("via proxy"));
        QCOMPARE(m_requestLines, QList<QByteArray>{"POST http://192.0.2.1/api/text/polish HTTP/1.1"});
    }

    void transportFailures_readAsChinese()
    {
        quint16 closedPort = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            closedPort = probe.serverPort();
        }
        QCOMPARE(polish(QStringLiteral("http://127.0.0.1:%1").arg(closedPort)).error(),
                 QStringLiteral("无法连接到服务器（可能需要代理或被网络阻断）"));

        QTcpServer hangUp; // reads the request and closes without an answer
        QVERIFY(hangUp.listen(QHostAddress::LocalHost, 0));
        answerWith(hangUp, {});
        QCOMPARE(polish(QStringLiteral("http://127.0.0.1:%1").arg(hangUp.serverPort())).error(),
                 QStringLiteral("网络连接中断"));

        // A valid answer past the size limit with no announced length is cut off while it streams in.
        QTcpServer flood;
        QVERIFY(flood.listen(QHostAddress::LocalHost, 0));
        answerWith(flood, "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n"
                          R"({"text":")" +
                              QByteArray(5 << 20, 'a') + R"("})");
        QCOMPARE(polish(QStringLiteral("http://127.0.0.1:%1").arg(flood.serverPort())).error(),
                 QStringLiteral("返回解析失败"));

        // An announced length past the limit is not read at all.
        QVERIFY(m_server.script({LocalServerProcess::rule(QStringLiteral("POST"), QStringLiteral("/api/text/polish"),
                                                          200, R"({"text":")" + QByteArray(5 << 20, 'a') + R"("})")}));
        QCOMPARE(polish().error(), QStringLiteral("返回解析失败"));

        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setPrivateKey(QSslKey(QByteArray(kFixtureKeyPem), QSsl::Ec));
        config.setLocalCertificate(QSslCertificate(QByteArray(kFixtureCertificatePem)));
        QSslServer untrusted;
        untrusted.setSslConfiguration(config);
        QVERIFY(untrusted.listen(QHostAddress::LocalHost, 0));
        int encrypted = 0;
        connect(&untrusted, &QSslServer::pendingConnectionAvailable, this, [&encrypted]() { ++encrypted; });
        QCOMPARE(polish(QStringLiteral("https://127.0.0.1:%1").arg(untrusted.serverPort())).error(),
                 QStringLiteral("TLS/证书握手失败（检查系统时间/网络代理）"));
        QCOMPARE(encrypted, 0);
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

        // The engine's own failure reaches the caller as its message.
        QCOMPARE(m_server.request("POST", QStringLiteral("/__control/asr"),
                                  R"({"fail":{"code":"NO_VALID_AUDIO_ERROR","message":"no valid audio"}})"),
                 200);
        QCOMPARE(QCoro::waitFor(ProxyRecognition::recognizeViaProxy(client, pcm, deviceId, std::nullopt, {})).error(),
                 QStringLiteral("no valid audio"));
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
