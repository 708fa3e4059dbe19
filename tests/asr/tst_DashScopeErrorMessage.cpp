#include "asr/DashScopeEndpoint.h"
#include "asr/DashScopeErrorMessage.h"

#include <QTest>

class TestDashScopeErrorMessage : public QObject
{
    Q_OBJECT
private slots:
    void startError_descriptions()
    {
        StartError timeout;
        timeout.kind = StartError::Kind::timeout;
        QCOMPARE(dashScopeErrorMessage(timeout), QStringLiteral("未在预期时间内收到 session.created。"));
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

    void socketErrors_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("message");
        QTest::newRow("network down") << int(QAbstractSocket::NetworkError)
                                      << QStringLiteral("无法连接 DashScope：网络未连接。");
        QTest::newRow("timeout") << int(QAbstractSocket::SocketTimeoutError)
                                 << QStringLiteral("无法连接 DashScope：连接超时（可能需要代理或网络不通）。");
        QTest::newRow("host not found") << int(QAbstractSocket::HostNotFoundError)
                                        << QStringLiteral(
                                               "无法连接 DashScope：无法连接到服务器（可能需要代理或被网络阻断）。");
        QTest::newRow("lost") << int(QAbstractSocket::RemoteHostClosedError)
                              << QStringLiteral("无法连接 DashScope：网络连接中断。");
        QTest::newRow("tls") << int(QAbstractSocket::SslHandshakeFailedError)
                             << QStringLiteral("无法连接 DashScope：TLS/证书握手失败（检查系统时间/网络代理）。");
        QTest::newRow("unknown") << int(QAbstractSocket::UnknownSocketError)
                                 << QStringLiteral(
                                        "无法连接 DashScope：网络错误（URLError.unknown）。常见原因：网络阻断、"
                                        "代理未开启、TLS 被拦截。");
        QTest::newRow("other") << int(QAbstractSocket::DatagramTooLargeError)
                               << QStringLiteral("无法连接 DashScope：too big（6）");
    }

    void socketErrors()
    {
        QFETCH(int, error);
        QFETCH(QString, message);
        const QString description =
            error == QAbstractSocket::DatagramTooLargeError ? QStringLiteral("too big") : QString();
        QCOMPARE(dashScopeErrorMessage(static_cast<QAbstractSocket::SocketError>(error), description), message);
    }

    void networkReplyErrors()
    {
        const QString prefix = QStringLiteral("无法连接 DashScope：");
        const std::pair<QNetworkReply::NetworkError, QString> table[] = {
            {QNetworkReply::TimeoutError, QStringLiteral("连接超时（可能需要代理或网络不通）。")},
            {QNetworkReply::HostNotFoundError, QStringLiteral("无法连接到服务器（可能需要代理或被网络阻断）。")},
            {QNetworkReply::RemoteHostClosedError, QStringLiteral("网络连接中断。")},
            {QNetworkReply::SslHandshakeFailedError, QStringLiteral("TLS/证书握手失败（检查系统时间/网络代理）。")},
            {QNetworkReply::ProtocolFailure, QStringLiteral("未知错误（399）")}};
        for (const auto &[error, message] : table)
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
