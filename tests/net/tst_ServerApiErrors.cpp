#include "net/LocalServerProcess.h"
#include "net/Settle.h"
#include "net/TlsFixture.h"
#include "net/VoxleServerApi.h"
#include "platform/fake/ManualClock.h"

#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

// What the user reads when the backend cannot be reached: the failures are real sockets on loopback, and the
// text is always the product's own Chinese, never the transport's.
class TestServerApiErrors : public QObject
{
    Q_OBJECT

    LocalServerProcess m_server;
    QTcpServer m_proxy;
    QList<QByteArray> m_proxied; // request lines the proxy saw
    QNetworkAccessManager m_nam;
    ManualClock m_clock;

    Result<VoxleTextResponse> polishAt(const QString &origin)
    {
        VoxleServerApi client(QUrl(origin), m_nam, m_clock);
        return QCoro::waitFor(settle(client.post<VoxleTextResponse>(
            QStringLiteral("/api/text/polish"), VoxlePolishRequest{QStringLiteral("嗯"), QStringLiteral("Chat")},
            std::nullopt, {{QStringLiteral("X-Device-Id"), QString(64, QLatin1Char('a'))}})));
    }

    static quint16 closedPort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort(); // closed again when `probe` goes
    }

private slots:
    void initTestCase()
    {
        // The system's proxy setting points at a proxy of the test's own.
        QVERIFY(m_proxy.listen(QHostAddress::LocalHost, 0));
        connect(&m_proxy, &QTcpServer::newConnection, this, [this]() {
            QTcpSocket *s = m_proxy.nextPendingConnection();
            connect(s, &QTcpSocket::readyRead, s, [this, s]() {
                m_proxied << s->readLine().trimmed();
                s->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 22\r\n"
                         "Connection: close\r\n\r\n{\"text\":\"via proxy\"}");
                s->disconnectFromHost();
            });
        });
        const QByteArray proxy = "http://127.0.0.1:" + QByteArray::number(m_proxy.serverPort());
        for (const char *name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY"})
            qputenv(name, proxy);
        qunsetenv("no_proxy");
        qunsetenv("NO_PROXY");
        QVERIFY(m_server.start());
        QVERIFY(m_server.script({}));
    }

    void loopbackGoesDirectAndOtherHostsUseTheSystemProxy()
    {
        const auto local = polishAt(m_server.origin().toString());
        QCOMPARE(local.error(), QString());
        QVERIFY(local && local->text != QStringLiteral("via proxy"));
        QVERIFY(m_proxied.isEmpty());
        // 192.0.2.1 is reserved for documentation: only the proxy can answer for it.
        const auto remote = polishAt(QStringLiteral("http://192.0.2.1"));
        QCOMPARE(remote ? remote->text : remote.error(), QStringLiteral("via proxy"));
        QCOMPARE(m_proxied, QList<QByteArray>{"POST http://192.0.2.1/api/text/polish HTTP/1.1"});
    }

    void transportFailures_readAsChinese()
    {
        const auto refused = polishAt(QStringLiteral("http://127.0.0.1:%1").arg(closedPort()));
        QCOMPARE(refused.error(), QStringLiteral("无法连接到服务器（可能需要代理或被网络阻断）"));

        QTcpServer hangUp; // accepts, reads the request and closes without an answer
        QVERIFY(hangUp.listen(QHostAddress::LocalHost, 0));
        connect(&hangUp, &QTcpServer::newConnection, this, [&hangUp]() {
            QTcpSocket *s = hangUp.nextPendingConnection();
            connect(s, &QTcpSocket::readyRead, s, [s]() {
                s->readAll();
                s->close();
            });
        });
        const auto closed = polishAt(QStringLiteral("http://127.0.0.1:%1").arg(hangUp.serverPort()));
        QCOMPARE(closed.error(), QStringLiteral("网络连接中断"));

        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setPrivateKey(QSslKey(QByteArray(kFixtureKeyPem), QSsl::Ec));
        config.setLocalCertificate(QSslCertificate(QByteArray(kFixtureCertificatePem)));
        QSslServer untrusted;
        untrusted.setSslConfiguration(config);
        QVERIFY(untrusted.listen(QHostAddress::LocalHost, 0));
        int encrypted = 0;
        connect(&untrusted, &QSslServer::pendingConnectionAvailable, this, [&encrypted]() { ++encrypted; });
        const auto tls = polishAt(QStringLiteral("https://127.0.0.1:%1").arg(untrusted.serverPort()));
        QCOMPARE(tls.error(), QStringLiteral("TLS/证书握手失败（检查系统时间/网络代理）"));
        QCOMPARE(encrypted, 0);
    }
};

QTEST_GUILESS_MAIN(TestServerApiErrors)
#include "tst_ServerApiErrors.moc"
