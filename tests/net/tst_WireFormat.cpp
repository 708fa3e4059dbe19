#include "asr/DashScopeEndpoint.h"
#include "asr/DashScopeErrorMessage.h"
#include "net/VoxleEndpoints.h"
#include "net/VoxleServerApi.h"
#include "platform/fake/FakeUserDefaults.h"
#include "support/LogCapture.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTest>

namespace {
QJsonObject obj(const char *json)
{
    return QJsonDocument::fromJson(json).object();
}
VoxleServerApi::RawResponse http(int status, const QByteArray &body)
{
    return VoxleServerApi::RawResponse{true, status, body};
}
QString thrownMessage(const VoxleServerApi::RawResponse &raw)
{
    try {
        VoxleServerApi::decodeResponse<VoxleTextResponse>(raw);
    } catch (const VoxleApiError &e) {
        return e.message;
    }
    return QStringLiteral("<no error>");
}
} // namespace

// Pure formats of the backend and recognition clients: records, error bodies and messages, identifiers,
// endpoints. The proxy's WAV upload is read by the stand-in, which checks every field of its header.
class TestWireFormat : public QObject
{
    Q_OBJECT
private slots:
    // Anything but a record is one message: the server's own (the first non-empty one among the candidates, cut
    // to a line's length) or the product's.
    void decodeResponse_errorsBecomeOneMessage_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected");
        const QString http400 = QStringLiteral("请求失败（HTTP 400）");
        QTest::newRow("422 detail list") << 422
                                         << QByteArray(
                                                R"({"detail":[{"loc":["body","phone"],"msg":"field required"}]})")
                                         << QStringLiteral("field required");
        QTest::newRow("400 detail") << 400 << QByteArray(R"({"detail":"bad phone"})") << QStringLiteral("bad phone");
        QTest::newRow("message first") << 400 << QByteArray(R"({"message":"m","detail":"d"})") << QStringLiteral("m");
        QTest::newRow("empty message falls through")
            << 400 << QByteArray(R"({"message":"","error":{"message":"e"}})") << QStringLiteral("e");
        QTest::newRow("detail strings") << 400 << QByteArray(R"({"detail":["x"]})") << http400;
        QTest::newRow("number message") << 400 << QByteArray(R"({"message":5})") << http400;
        QTest::newRow("500 html") << 500 << QByteArray("<html><h1>Internal Server Error</h1></html>")
                                  << QStringLiteral("请求失败（HTTP 500）");
        QTest::newRow("200 empty") << 200 << QByteArray() << QStringLiteral("返回解析失败");
        QTest::newRow("200 missing key") << 200 << QByteArray(R"({"result":"x"})") << QStringLiteral("返回解析失败");
        QTest::newRow("400 long message")
            << 400 << (QStringLiteral(R"({"message":")") + QString(300, u'长') + QStringLiteral(R"("})")).toUtf8()
            << QString(200, u'长') + QStringLiteral("…");
        QTest::newRow("no HTTP answer") << 0 << QByteArray() << QStringLiteral("连接失败：无响应");
    }
    void decodeResponse_errorsBecomeOneMessage()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);
        QCOMPARE(thrownMessage(VoxleServerApi::RawResponse{status != 0, status, body}), expected);
    }

    void decodeResponse_recordsOfAnyTwoHundredStatus()
    {
        QCOMPARE(VoxleServerApi::decodeResponse<VoxleTextResponse>(http(299, R"({"text":"ok","x":1})")).text,
                 QStringLiteral("ok"));
        // The usage answer is optional: JSON null is no record, an object must still be a valid record.
        QVERIFY(!VoxleServerApi::decodeResponse<std::optional<VoxleTextResponse>>(http(200, "null")));
        QVERIFY(VoxleServerApi::decodeResponse<std::optional<VoxleTextResponse>>(http(200, R"({"text":""})")));
        QVERIFY_THROWS_EXCEPTION(VoxleApiError,
                                 VoxleServerApi::decodeResponse<std::optional<VoxleTextResponse>>(http(200, "")));
    }

    void records_requiredAndOptionalKeys()
    {
        // The cached copy is the record the server sent, less the keys this version does not know.
        const QJsonObject sent = obj(R"({"id":"7","email":"e","phone":"138","displayName":"d","isAdmin":false,)"
                                     R"("createdAtUtc":"t","subscriptionTier":"pro","lastLoginAtUtc":"l"})");
        QJsonObject withUnknown = sent;
        withUnknown.insert(QStringLiteral("unknown"), QJsonArray{1});
        const auto full = VoxleUserSummaryDto::fromJson(withUnknown);
        QCOMPARE(full ? full->toJson() : QJsonObject(), sent);
        const auto credentials =
            VoxleAiCredentialsDto::fromJson(obj(R"({"apiKey":"k","asrModel":"a","llmModel":"l"})"));
        QCOMPARE(VoxleAiCredentialsDto::fromJson(credentials->toJson()),
                 std::optional(VoxleAiCredentialsDto{QStringLiteral("k"), QStringLiteral("a"), QStringLiteral("l")}));
        // Missing required key, wrong type of an optional key.
        QVERIFY(!VoxleUserSummaryDto::fromJson(obj(R"({"id":"7","isAdmin":false})")));
        QVERIFY(!VoxleUserSummaryDto::fromJson(obj(R"({"id":"7","isAdmin":false,"createdAtUtc":"t","phone":138})")));
        QVERIFY(!VoxleUserSummaryDto::fromJson(obj(R"({"id":"7","isAdmin":false,"createdAtUtc":"t","isDisabled":1})")));
        QVERIFY(!VoxleUserSummaryDto::fromJson(obj(R"({"id":"7","isAdmin":"false","createdAtUtc":"t"})")));
        QVERIFY(!VoxleAiCredentialsDto::fromJson(obj(R"({"apiKey":"k","asrModel":"a"})")));
        QVERIFY(!VoxleSliderChallengeResponse::fromJson(obj(R"({"challengeId":"c","targetPosition":1.5})")));
        QCOMPARE(
            VoxleSliderChallengeResponse::fromJson(obj(R"({"challengeId":"c","targetPosition":120})"))->targetPosition,
            120);
        QVERIFY(!VoxleAuthResponse::fromJson(obj(R"({"token":"t","expiresAtUtc":"e","user":{"id":"1"}})")));
        const auto auth = VoxleAuthResponse::fromJson(
            obj(R"({"token":"t","expiresAtUtc":"e","user":{"id":"7","isAdmin":true,"createdAtUtc":"c"}})"));
        QVERIFY(auth && auth->token == QStringLiteral("t") && auth->expiresAtUtc == QStringLiteral("e") &&
                auth->user.isAdmin);

        // A null optional key is stored as absent.
        const auto disabled = VoxleUserSummaryDto::fromJson(
            obj(R"({"id":"7","email":null,"isAdmin":false,"createdAtUtc":"t","isDisabled":true})"));
        QVERIFY(!disabled->toJson().contains(QStringLiteral("email")));
        QCOMPARE(disabled->toJson().value(QStringLiteral("isDisabled")), QJsonValue(true));

        // Optional request fields are left out; snake_case keys stay as they are.
        const QJsonObject usage =
            VoxleReportUsageRequest{QStringLiteral("dictation"), std::nullopt, 3, 4, 1500}.toJson();
        QCOMPARE(QJsonDocument(usage).toJson(QJsonDocument::Compact),
                 QByteArray(R"({"event_type":"dictation","output_text_length":4,"raw_text_length":3,)"
                            R"("speech_duration_ms":1500})"));
    }

    void deviceIdentifier_keepsHashesOrCreatesOne()
    {
        FakeUserDefaults defaults;
        const QString upper = QStringLiteral("ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789");
        defaults.setString(QStringLiteral("voxle_device_id"), QStringLiteral("  ") + upper + QStringLiteral("\n"));
        defaults.writes.clear();
        QCOMPARE(VoxleServerApi::deviceIdentifier(defaults), upper.toLower());
        QVERIFY(defaults.writes.isEmpty());

        defaults.setString(QStringLiteral("voxle_device_id"), QStringLiteral(" my-mac \n"));
        const QString hashed = VoxleServerApi::deviceIdentifier(defaults);
        QCOMPARE(hashed, QString::fromLatin1(QCryptographicHash::hash("my-mac", QCryptographicHash::Sha256).toHex()));
        QCOMPARE(defaults.string(QStringLiteral("voxle_device_id")), std::optional<QString>(hashed));

        FakeUserDefaults fresh;
        const QString created = VoxleServerApi::deviceIdentifier(fresh);
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{64}$")).match(created).hasMatch());
        QCOMPARE(VoxleServerApi::deviceIdentifier(fresh), created);
        QCOMPARE(fresh.writes.size(), 1);
    }

    // Failures the loopback tests do not reach (an unknown host would go to their proxy).
    void userMessage_offlineAndUnknownFailures()
    {
        for (const auto &[code, text] : {std::pair{QNetworkReply::NetworkSessionFailedError, "网络未连接"},
                                         {QNetworkReply::HostNotFoundError, "找不到服务器（网络未连接或需要代理）"},
                                         {QNetworkReply::UnknownNetworkError, "网络错误"}})
            QCOMPARE(VoxleServerApi::userMessage(VoxleTransportError(code, {})), QString::fromUtf8(text));
        QCOMPARE(VoxleServerApi::userMessage(std::runtime_error(" disk full ")), QStringLiteral("disk full"));
        QCOMPARE(VoxleServerApi::userMessage(std::runtime_error("")), QStringLiteral("请求失败"));
    }

    // Tokens, keys and SMS codes never reach the log; everything else is logged as it was.
    void logs_redactSecretsOnly()
    {
        QNetworkRequest request;
        request.setRawHeader("Authorization", "Bearer secret-token-123");
        request.setRawHeader("X-Device-Id", "abc");
        QCOMPARE(VoxleServerApi::headerMapForLog(request),
                 QStringLiteral(R"(["Authorization": "Bearer <redacted>", "X-Device-Id": "abc"])"));

        const QString login =
            QStringLiteral(R"({"token":"tok-secret-1","expiresAtUtc":"2026-12-07T00:00:00Z","user":{"id":"1"}})");
        const QString logged = VoxleServerApi::bodyForLog(login);
        QVERIFY(!logged.contains(QStringLiteral("tok-secret-1")));
        QCOMPARE(QJsonDocument::fromJson(logged.toUtf8()).object().value(QStringLiteral("token")).toString(),
                 QStringLiteral("<redacted>"));
        QVERIFY(logged.contains(QStringLiteral("2026-12-07T00:00:00Z")));
        QVERIFY(!VoxleServerApi::bodyForLog(QStringLiteral(R"([{"apiKey":"sk-9"}])")).contains(QStringLiteral("sk-9")));
        // Qt reads only the last of repeated keys; the secret before it stays out of the log too.
        for (const char *repeated : {R"({"token":"tok-dup","token":1})", R"({"\u0074oken":"tok-dup","\u0074oken":1})"})
            QVERIFY(!VoxleServerApi::bodyForLog(QString::fromLatin1(repeated)).contains(QStringLiteral("tok-dup")));
        QVERIFY(!VoxleServerApi::bodyForLog(QStringLiteral(R"({"phone":"1","code":"246810"})"))
                     .contains(QStringLiteral("246810")));
        // Everything else is logged exactly as it was.
        const QString plain = QStringLiteral("{ \"text\" : \"你好\" }");
        QCOMPARE(VoxleServerApi::bodyForLog(plain), plain);
        QCOMPARE(VoxleServerApi::bodyForLog(QStringLiteral("<html>")), QStringLiteral("<html>"));

        LogCapture log;
        VoxleServerApi::decodeResponse<VoxleAiCredentialsDto>(
            http(200, R"({"apiKey":"sk-live-123","asrModel":"a","llmModel":"b"})"));
        const QStringList messages = LogCapture::lines();
        QCOMPARE(messages.size(), 1);
        QVERIFY(messages.first().startsWith(QStringLiteral("[VoxleServerApi] 响应结果: ")));
        QVERIFY(messages.first().contains(QStringLiteral(R"("asrModel":"a")")));
        QVERIFY(!messages.first().contains(QStringLiteral("sk-live-123")));
    }

    void resolveOrigin_plainHttpOnlyOnLoopback()
    {
        const QString fallback = QStringLiteral("https://api.voxle.app");
        const std::pair<QString, QString> table[] = {
            {QString(), fallback},
            {QStringLiteral("http://127.0.0.1:8080/x"), QStringLiteral("http://127.0.0.1:8080")},
            {QStringLiteral("http://localhost:9"), QStringLiteral("http://localhost:9")},
            {QStringLiteral("http://[::1]:9"), QStringLiteral("http://[::1]:9")},
            {QStringLiteral("http://example.com"), fallback},
            {QStringLiteral("http://127.0.0.1.example.com"), fallback},
            {QStringLiteral("https://staging.voxle.app"), QStringLiteral("https://staging.voxle.app")},
            {QStringLiteral("ws://127.0.0.1:7"), QStringLiteral("http://127.0.0.1:7")},
            {QStringLiteral("wss://dashscope.example.net"), QStringLiteral("https://dashscope.example.net")}};
        for (const auto &[override, origin] : table)
            QCOMPARE(VoxleEndpoints::resolveOrigin(override, QUrl(fallback)), QUrl(origin));
        QCOMPARE(VoxleEndpoints::appendPath(QUrl(QStringLiteral("http://127.0.0.1:7")), QStringLiteral("/api/auth/me")),
                 QUrl(QStringLiteral("http://127.0.0.1:7/api/auth/me")));
    }

    void dashScopeErrorMessage_startAndConnectionFailures()
    {
        // The start timeout's text is read through the controller in tst_DictationController, refused keys
        // (401, 403) through the session in tst_ParaformerStreamingSession.
        StartError server;
        QCOMPARE(dashScopeErrorMessage(server), QStringLiteral("服务端返回 error。"));
        server.detail = QStringLiteral("bad things");
        QCOMPARE(dashScopeErrorMessage(server), QStringLiteral("bad things"));
        StartError refused;
        refused.socketError = QAbstractSocket::ConnectionRefusedError;
        refused.detail = QStringLiteral("Connection refused");
        QCOMPARE(dashScopeErrorMessage(refused),
                 QStringLiteral("无法连接 DashScope：无法连接到服务器（可能需要代理或被网络阻断）。"));

        // Socket and request errors read alike; what no rule names keeps the system's own description. Timeouts,
        // refusals, drops and TLS failures are read where they happen, in the session and chat tests.
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
            {QNetworkReply::TemporaryNetworkFailureError, QStringLiteral("网络未连接。")},
            {QNetworkReply::SslHandshakeFailedError, tls},
            {QNetworkReply::UnknownNetworkError, unknown},
            {QNetworkReply::ProtocolFailure, QStringLiteral("未知错误（399）")}};
        for (const auto &[error, message] : replies)
            QCOMPARE(dashScopeErrorMessage(error, QString()), prefix + message);
    }

    // Only loopback may use plain ws or http, and only a bare origin replaces the service's address.
    void dashScopeRealtimeUrl_overridesOnlyAtTheOrigin()
    {
        const QString constant = QStringLiteral("wss://dashscope.aliyuncs.com/api-ws/v1/inference");
        const QString inference = QStringLiteral("/api-ws/v1/inference");
        const std::pair<QString, QString> table[] = {
            {QString(), constant},
            {QStringLiteral("http://localhost:9000/"), QStringLiteral("ws://localhost:9000") + inference},
            {QStringLiteral("wss://asr.example.net:8443"), QStringLiteral("wss://asr.example.net:8443") + inference},
            {QStringLiteral("ws://10.0.0.5:80"), constant},
            {QStringLiteral("wss://asr.example.net/other"), constant},
            {QStringLiteral("ftp://127.0.0.1"), constant},
            {QStringLiteral("::::"), constant}};
        for (const auto &[override, url] : table)
            QCOMPARE(dashScopeRealtimeUrl(override).toString(), url);
        // The program reads the override from its environment.
        qputenv("VOXLE_DASHSCOPE_URL", "ws://127.0.0.1:8123");
        QCOMPARE(dashScopeRealtimeUrl().toString(), QStringLiteral("ws://127.0.0.1:8123") + inference);
        qunsetenv("VOXLE_DASHSCOPE_URL");
    }
};

QTEST_GUILESS_MAIN(TestWireFormat)
#include "tst_WireFormat.moc"
