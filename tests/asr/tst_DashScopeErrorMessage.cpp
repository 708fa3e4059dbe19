#include "asr/DashScopeEndpoint.h"
#include "asr/DashScopeErrorMessage.h"

#include <QTest>

class TestDashScopeErrorMessage : public QObject
{
    Q_OBJECT
private slots:
    void startError_descriptions()
    {
        // The start timeout's text is read through the controller in tst_DictationController.
        StartError server;
        QCOMPARE(dashScopeErrorMessage(server), QStringLiteral("服务端返回 error。"));
        server.detail = QStringLiteral("bad things");
        QCOMPARE(dashScopeErrorMessage(server), QStringLiteral("bad things"));
        StartError refused;
        refused.socketError = QAbstractSocket::ConnectionRefusedError;
        refused.detail = QStringLiteral("Connection refused");
        QCOMPARE(dashScopeErrorMessage(refused),
                 QStringLiteral("无法连接 DashScope：无法连接到服务器（可能需要代理或被网络阻断）。"));
        StartError unauthorised;
        unauthorised.socketError = QAbstractSocket::ConnectionRefusedError;
        unauthorised.httpStatus = 401;
        QCOMPARE(dashScopeErrorMessage(unauthorised),
                 QStringLiteral("无法连接 DashScope：服务器拒绝了连接，API Key 可能无效（401）"));
    }

    // Socket and request errors read alike; what no rule names keeps the system's own description. Timeouts,
    // refusals, drops and TLS failures are read where they happen, in the session and chat tests.
    void connectionErrors()
    {
        const QString prefix = QStringLiteral("无法连接 DashScope：");
        const QString lost = QStringLiteral("网络连接中断。");
        const QString tls = QStringLiteral("TLS/证书握手失败（检查系统时间/网络代理）。");
        const QString unknown = QStringLiteral("网络错误（URLError.unknown）。常见原因：网络阻断、代理未开启、TLS 被拦截。");
        const std::pair<QAbstractSocket::SocketError, QString> sockets[] = {
            {QAbstractSocket::NetworkError, QStringLiteral("网络未连接。")},
            {QAbstractSocket::UnknownSocketError, unknown}};
        for (const auto &[error, message] : sockets)
            QCOMPARE(dashScopeErrorMessage(error, QString()), prefix + message);
        QCOMPARE(dashScopeErrorMessage(QAbstractSocket::DatagramTooLargeError, QStringLiteral("too big")),
                 prefix + QStringLiteral("too big（6）"));
        const std::pair<QNetworkReply::NetworkError, QString> replies[] = {
            {QNetworkReply::RemoteHostClosedError, lost},
            {QNetworkReply::SslHandshakeFailedError, tls},
            {QNetworkReply::UnknownNetworkError, unknown},
            {QNetworkReply::ProtocolFailure, QStringLiteral("未知错误（399）")}};
        for (const auto &[error, message] : replies)
            QCOMPARE(dashScopeErrorMessage(error, QString()), prefix + message);
    }

    void realtimeUrl_data()
    {
        QTest::addColumn<QString>("override");
        QTest::addColumn<QString>("url");
        const QString constant = QStringLiteral("wss://dashscope.aliyuncs.com/api-ws/v1/inference");
        QTest::newRow("unset") << QString() << constant;
        QTest::newRow("loopback ws") << QStringLiteral("ws://127.0.0.1:8123")
                                     << QStringLiteral("ws://127.0.0.1:8123/api-ws/v1/inference");
        QTest::newRow("loopback http") << QStringLiteral("http://localhost:9000/")
                                       << QStringLiteral("ws://localhost:9000/api-ws/v1/inference");
        QTest::newRow("other wss") << QStringLiteral("wss://asr.example.net:8443")
                                   << QStringLiteral("wss://asr.example.net:8443/api-ws/v1/inference");
        QTest::newRow("plain ws elsewhere") << QStringLiteral("ws://10.0.0.5:80") << constant;
        QTest::newRow("with path") << QStringLiteral("wss://asr.example.net/other") << constant;
        QTest::newRow("bad scheme") << QStringLiteral("ftp://127.0.0.1") << constant;
        QTest::newRow("garbage") << QStringLiteral("::::") << constant;
    }

    void realtimeUrl()
    {
        QFETCH(QString, override);
        QFETCH(QString, url);
        QCOMPARE(dashScopeRealtimeUrl(override).toString(), url);
    }
};

QTEST_GUILESS_MAIN(TestDashScopeErrorMessage)
#include "tst_DashScopeErrorMessage.moc"
