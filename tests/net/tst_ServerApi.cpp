#include "net/Settle.h"
#include "net/TlsFixture.h"
#include "net/VoxleServerApi.h"
#include "platform/fake/ManualClock.h"
#include "support/LocalServerProcess.h"

#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

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

    // A server that never answers: the request ends at its deadline on the injected clock, or at once when
    // cancelled, taking its deadline along.
    void hangingServer_timesOutOnTheClockOrIsCancelled()
    {
        QVERIFY(m_server.script(LocalServerProcess::hang(QStringLiteral("/api/auth/me"))));
        VoxleServerApi client(m_server.origin(), m_nam, m_clock);
        const auto me = [&](CancelToken cancel) {
            return settle(client.get<VoxleUserSummaryDto>(QStringLiteral("/api/auth/me"), QStringLiteral("t"), {},
                                                          std::move(cancel)));
        };
        auto task = me({});
        QVERIFY(QTest::qWaitFor([&] { return m_server.requestsTo(QStringLiteral("/api/auth/me")).size() == 1; }));
        m_clock.advance(VoxleServerApi::kTimeoutMs - 1);
        QCoreApplication::processEvents();
        QVERIFY(!task.isReady());
        m_clock.advance(1);
        QCOMPARE(QCoro::waitFor(task).error(), QStringLiteral("连接超时"));

        CancelToken cancel;
        task = me(cancel);
        QVERIFY(QTest::qWaitFor([&] { return m_server.requestsTo(QStringLiteral("/api/auth/me")).size() == 2; }));
        cancel.cancel();
        QCOMPARE(QCoro::waitFor(task).error(), QStringLiteral("请求已取消"));
        QCOMPARE(m_clock.pendingTimers(), 0);
    }
};

QTEST_GUILESS_MAIN(TestServerApi)
#include "tst_ServerApi.moc"
