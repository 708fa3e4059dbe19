#include "base/AppIdentity.h"
#include "core/KeychainStore.h"
#include "core/TextRewriter.h"
#include "core/VoxleAccount.h"
#include "core/VoxleCloud.h"
#include "platform/fake/FakeSecretStore.h"
#include "platform/fake/FakeUserDefaults.h"
#include "platform/fake/ManualClock.h"
#include "support/LocalServerProcess.h"

#include <QJsonArray>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

namespace {
const QString kPhone = QStringLiteral("13800138000");
const QString kSmsCode = QStringLiteral("246810");
const QString kServerKey = QStringLiteral("sk-standin-7f3a");
const QString kChatPath = QStringLiteral("/compatible-mode/v1/chat/completions");
const QString kCredentialsPath = QStringLiteral("/api/config/ai-credentials");
const QString kTokenItem = QStringLiteral("voxle_auth_token");
const QString kKeyItem = QStringLiteral("dashscope_api_key");

QJsonObject headersOf(const QJsonValue &request)
{
    return request.toObject().value(QStringLiteral("headers")).toObject();
}
QString authorizationOf(const QJsonValue &request)
{
    return headersOf(request).value(QStringLiteral("authorization")).toString();
}
QJsonObject jsonBodyOf(const QJsonValue &request)
{
    return QJsonDocument::fromJson(request.toObject().value(QStringLiteral("body")).toString().toUtf8()).object();
}
// The text of the chat request's message `index`.
QString chatMessage(const QJsonValue &request, int index)
{
    return jsonBodyOf(request).value(QStringLiteral("messages"))[index][QStringLiteral("content")].toString();
}
template <typename T> T wait(QCoro::Task<T> task)
{
    return QCoro::waitFor(std::move(task));
}
} // namespace

// The account flows of the application state against the real stand-in backend over loopback HTTP.
class TestVoxleAccount : public QObject
{
    Q_OBJECT
private:
    LocalServerProcess m_server;
    QNetworkAccessManager m_nam;

    // A fresh installation per test.
    struct Fixture {
        FakeSecretStore secrets;
        KeychainStore keychain{secrets};
        FakeUserDefaults defaults;
        ManualClock clock;
        bool useProxy = false;
        QStringList savedKeys;
        std::unique_ptr<VoxleAccount> account;
        std::unique_ptr<TextRewriter> rewriter;

        std::optional<QString> secret(const QString &key) { return keychain.read(key); }
        QString bearer() { return QStringLiteral("Bearer ") + secret(kTokenItem).value_or(QString()); }
        // What an earlier run left in the secret store.
        void storedBefore(const QString &key, const QString &value)
        {
            secrets.items[{Voxle::applicationId(), key}] = value;
        }
    };

    // `chatOrigin`: where the chat completions go, if not to the stand-in backend.
    std::unique_ptr<Fixture> fixture(const QString &chatOrigin = QString())
    {
        auto f = std::make_unique<Fixture>();
        Fixture *raw = f.get();
        const QUrl origin = m_server.origin();
        VoxleAccount::Endpoints endpoints{
            origin, QUrl((chatOrigin.isEmpty() ? origin.toString() : chatOrigin) + kChatPath)};
        f->account = std::make_unique<VoxleAccount>(
            f->defaults, f->keychain, f->clock, m_nam, [raw]() { return raw->useProxy; }, nullptr, endpoints);
        QObject::connect(f->account.get(), &VoxleAccount::apiKeyReceived, f->account.get(), [raw](const QString &key) {
            raw->savedKeys << key;
            raw->keychain.save(key.trimmed(), kKeyItem);
        });
        f->rewriter = std::make_unique<TextRewriter>(*f->account, m_nam, f->clock);
        return f;
    }

    // Slider, SMS code and login, as the sign-in window drives them; the first failure's message.
    std::optional<QString> login(Fixture &f)
    {
        const auto challenge = wait(f.account->sliderChallenge());
        if (!challenge.value)
            return QStringLiteral("no challenge: ") + challenge.message;
        const auto slider =
            wait(f.account->sliderVerify(challenge.value->challengeId, challenge.value->targetPosition + 2));
        if (!slider.value)
            return QStringLiteral("slider: ") + slider.message;
        if (auto failed = wait(f.account->sendCode(QStringLiteral(" ") + kPhone, slider.value)))
            return failed;
        return wait(f.account->phoneLogin(kPhone, QStringLiteral(" ") + kSmsCode + QStringLiteral("\n")));
    }
    void signIn(Fixture &f)
    {
        QCOMPARE(login(f), std::nullopt);
        QVERIFY(f.account->isLoggedIn());
    }

    // `method` requests to `path` are answered with `body`; `reset` also forgets users and sessions.
    bool answer(const char *method, const QString &path, int status, const QByteArray &body, bool reset = true)
    {
        return m_server.script({LocalServerProcess::rule(QString::fromLatin1(method), path, status, body)}, reset);
    }

    void storeSession(Fixture &f, const QString &token, const QString &expires)
    {
        f.defaults.setBool(QStringLiteral("has_run_before_v1"), true);
        f.storedBefore(kTokenItem, token);
        f.storedBefore(QStringLiteral("voxle_auth_expires_at_utc"), expires);
        f.defaults.setData(QStringLiteral("voxle_auth_user_json"),
                           R"({"id":"9","phone":"13800138000","isAdmin":false,"createdAtUtc":"2026-01-01T00:00:00Z"})");
        f.defaults.setData(QStringLiteral("voxle_ai_credentials_json"),
                           R"({"apiKey":"sk-earlier","asrModel":"fun-asr-realtime","llmModel":"qwen-plus"})");
        f.storedBefore(kKeyItem, QStringLiteral("sk-user-typed"));
    }

    static QString fileKey(Fixture &f)
    {
        return QJsonDocument::fromJson(f.defaults.data(QStringLiteral("voxle_ai_credentials_json")).value_or(""))
            .object()
            .value(QStringLiteral("apiKey"))
            .toString(QStringLiteral("<none>"));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.start({QStringLiteral("--sms-code"), kSmsCode, QStringLiteral("--api-key"), kServerKey}));
    }
    void init() { QVERIFY(m_server.script({})); }

    void restore_keepsOnlyValidSessions_data()
    {
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("expires");
        QTest::addColumn<bool>("firstRun");
        QTest::addColumn<bool>("signedIn");
        // The manual clock starts at 2026-12-06T12:00:00Z.
        const QString token = QStringLiteral("abcdefghijk");
        const QString tomorrow = QStringLiteral("2026-12-07T00:00:00Z");
        QTest::newRow("fractional future") << token << QStringLiteral("2026-12-06T12:00:00.500Z") << false << true;
        QTest::newRow("whole future") << token << tomorrow << false << true;
        QTest::newRow("ten characters") << QStringLiteral(" abcdefghij\n") << tomorrow << false << false;
        QTest::newRow("expired") << token << QStringLiteral("2026-12-06T11:59:59Z") << false << false;
        QTest::newRow("sub-millisecond") << token << QStringLiteral("2026-12-06T12:00:00.000999Z") << false << false;
        QTest::newRow("offset west") << token << QStringLiteral("2026-12-06T06:30:01-05:30") << false << true;
        QTest::newRow("no expiry") << token << QStringLiteral(" ") << false << false;
        QTest::newRow("no zone") << token << QStringLiteral("2026-12-07T00:00:00") << false << false;
        QTest::newRow("space") << token << QStringLiteral("2026-12-07 00:00:00Z") << false << false;
        QTest::newRow("offset out of range") << token << QStringLiteral("2026-12-09T00:00:00+24:00") << false << false;
        // Keychain items survive an uninstall; a first run must not sign in with them.
        QTest::newRow("first run") << token << tomorrow << true << false;
    }
    void restore_keepsOnlyValidSessions()
    {
        QFETCH(QString, token);
        QFETCH(QString, expires);
        QFETCH(bool, firstRun);
        QFETCH(bool, signedIn);
        auto f = fixture();
        storeSession(*f, token, expires);
        if (firstRun)
            f->defaults.remove(QStringLiteral("has_run_before_v1"));
        f->account->restoreAuthState();
        QCOMPARE(f->defaults.boolean(QStringLiteral("has_run_before_v1")), std::optional(true));
        QCOMPARE(f->account->isLoggedIn(), signedIn);
        QCOMPARE(f->account->authUser().has_value(), signedIn);
        QCOMPARE(f->account->aiCredentials().has_value(), signedIn);
        QCOMPARE(f->secret(kTokenItem).has_value(), signedIn);
        QCOMPARE(f->secret(QStringLiteral("voxle_auth_expires_at_utc")).has_value(), signedIn);
        QCOMPARE(f->defaults.contains(QStringLiteral("voxle_auth_user_json")), signedIn);
        QCOMPARE(f->defaults.contains(QStringLiteral("voxle_ai_credentials_json")), signedIn);
        // The DashScope key is never removed by signing out.
        QCOMPARE(f->secret(kKeyItem), std::optional(QStringLiteral("sk-user-typed")));
        if (signedIn)
            QCOMPARE(f->account->authExpiresAtUtc(), std::optional(expires));
    }

    // A settings file from before the key lived in the secret store: the key moves there once the store
    // confirms it, never while the store is unreachable; the record keeps its shape with a blank key.
    void restore_movesTheFilesKeyIntoTheSecretStore()
    {
        auto f = fixture();
        storeSession(*f, QStringLiteral("abcdefghijk"), QStringLiteral("2026-12-07T00:00:00Z"));
        f->secrets.items.erase({Voxle::applicationId(), kKeyItem});
        f->secrets.failReadWith = -25291;
        f->secrets.failSaveWith = -25291;
        f->account->restoreAuthState();
        f->account->restoreAuthState(); // tried again meanwhile: still one retry
        QCOMPARE(f->clock.pendingTimers(), 1);
        QCOMPARE(fileKey(*f), QStringLiteral("sk-earlier"));
        QCOMPARE(f->account->aiCredentials()->apiKey, QStringLiteral("sk-earlier"));
        // Unreachable is not "signed out": nothing is cleared, and the restore is tried again later.
        QVERIFY(!f->account->isLoggedIn());
        QVERIFY(f->defaults.contains(QStringLiteral("voxle_auth_user_json")));
        QCOMPARE(f->secrets.items.count({Voxle::applicationId(), kTokenItem}), 1u);

        f->secrets.failReadWith = 0;
        f->clock.advance(10'000);
        QVERIFY(f->account->isLoggedIn());
        QCOMPARE(fileKey(*f), QStringLiteral("sk-earlier")); // the save still fails
        f->secrets.failSaveWith = 0;
        f->account->restoreAuthState(); // the next start
        QCOMPARE(fileKey(*f), QString());
        QCOMPARE(f->secret(kKeyItem), std::optional(QStringLiteral("sk-earlier")));
        QCOMPARE(f->account->aiCredentials()->apiKey, QStringLiteral("sk-earlier"));
        QCOMPARE(f->clock.pendingTimers(), 0);

        // Fresh credentials are written blank too, and the next start fills the key from the store.
        f->account->applyAiCredentials(
            VoxleAiCredentialsDto{QStringLiteral("sk-new"), QStringLiteral("a"), QStringLiteral("l")});
        QCOMPARE(fileKey(*f), QString());
        const QList<QString> readsBefore = f->secrets.calls;
        f->account->restoreAuthState();
        QCOMPARE(f->account->aiCredentials()->apiKey, QStringLiteral("sk-earlier"));
        QCOMPARE(f->secrets.calls, readsBefore); // answered from memory
    }

    // The expiry cannot be saved after the token was: the sign-in is rolled back. A failed credentials fetch
    // does not fail the sign-in, and the earlier key is handed on again.
    void signIn_rolledBackOnAFailedSaveNotOnAFailedFetch()
    {
        auto f = fixture();
        f->secrets.failSaveWith = -26276;
        f->secrets.failSaveAccount = QStringLiteral("voxle_auth_expires_at_utc");
        QCOMPARE(login(*f), std::optional(QStringLiteral("钥匙串操作失败（-26276）")));
        QVERIFY(!f->account->isLoggedIn());
        QCOMPARE(f->secrets.items.count({Voxle::applicationId(), kTokenItem}), 0u);
        QVERIFY(!f->defaults.contains(QStringLiteral("voxle_auth_user_json")));

        f->secrets.failSaveWith = 0;
        f->account->applyAiCredentials(
            VoxleAiCredentialsDto{QStringLiteral("sk-earlier"), QStringLiteral("a"), QStringLiteral("l")});
        QVERIFY(answer("GET", kCredentialsPath, 500, "<html>oops</html>"));
        signIn(*f);
        QCOMPARE(f->savedKeys, QStringList{QStringLiteral("sk-earlier")});
        // Over a session, the rollback gives its token back.
        const std::optional<QString> token = f->secret(kTokenItem);
        f->secrets.failSaveWith = -26276;
        QCOMPARE(login(*f), std::optional(QStringLiteral("钥匙串操作失败（-26276）")));
        QCOMPARE(f->secret(kTokenItem), token);
    }

    void signIn_sliderCodeAndLogin()
    {
        // The form, the captcha and their refusals are driven through the windows (tst_auth_window, the user
        // journey); here what signing in leaves in the account, and what it sends.
        auto f = fixture();
        // The stand-in is no kinder than the backend: a code only after a solved slider, one try per challenge.
        QCOMPARE(wait(f->account->sendCode(kPhone, std::nullopt)), std::optional(QStringLiteral("请先完成滑块验证")));
        const auto challenge = wait(f->account->sliderChallenge());
        QVERIFY(challenge.value);
        const auto missed =
            wait(f->account->sliderVerify(challenge.value->challengeId, challenge.value->targetPosition + 40));
        QCOMPARE(missed.message, QStringLiteral("滑块验证失败，请重试"));
        QVERIFY(!wait(f->account->sliderVerify(challenge.value->challengeId, challenge.value->targetPosition)).value);
        QCOMPARE(wait(f->account->phoneLogin(kPhone, kSmsCode)), std::optional(QStringLiteral("验证码错误或已过期")));
        QCOMPARE(wait(f->account->phoneLogin(kPhone, QStringLiteral(" "))),
                 std::optional(QStringLiteral("请输入手机号和验证码")));

        // How often each observable property of the account announced a change.
        VoxleAccount *a = f->account.get();
        const QSignalSpy loggedIn(a, &VoxleAccount::isLoggedInChanged), user(a, &VoxleAccount::authUserChanged),
            expiry(a, &VoxleAccount::authExpiresAtUtcChanged), credentials(a, &VoxleAccount::aiCredentialsChanged);
        const auto changes = [&] { return QList{loggedIn.size(), user.size(), expiry.size(), credentials.size()}; };
        signIn(*f);
        QCOMPARE(changes(), (QList<qsizetype>{1, 1, 1, 1}));
        QCOMPARE(f->account->authUser()->phone, std::optional(kPhone));
        QVERIFY(f->secret(kTokenItem).value_or(QString()).size() >= 11);
        QCOMPARE(f->secret(QStringLiteral("voxle_auth_expires_at_utc")), f->account->authExpiresAtUtc());
        QVERIFY(f->defaults.data(QStringLiteral("voxle_auth_user_json")));
        QCOMPARE(f->account->aiCredentials()->apiKey, kServerKey);
        QCOMPARE(f->savedKeys, QStringList{kServerKey});

        // The code request declares its body's type and carries no device id. (The credentials fetch and its
        // headers: ensureCredentials_anonymousProxyAndSignedIn.)
        const QJsonArray sends = m_server.requestsTo(QStringLiteral("/api/auth/send-code"));
        QCOMPARE(headersOf(sends.first()).value(QStringLiteral("content-type")).toString(),
                 QStringLiteral("application/json"));
        QVERIFY(!headersOf(sends.first()).contains(QStringLiteral("x-device-id")));
        QCOMPARE(jsonBodyOf(sends.last()).keys(),
                 (QStringList{QStringLiteral("phone"), QStringLiteral("sliderToken")}));
        QCOMPARE(jsonBodyOf(sends.last()).value(QStringLiteral("phone")).toString(), kPhone);

        const auto me = wait(f->account->fetchMe());
        QVERIFY(me);
        QCOMPARE(me->phone, std::optional(kPhone));
        const QJsonValue meRequest = m_server.requestsTo(QStringLiteral("/api/auth/me")).first();
        QCOMPARE(authorizationOf(meRequest), f->bearer());
        QVERIFY(!headersOf(meRequest).contains(QStringLiteral("x-device-id")));
        // A refused profile request is only logged: still signed in.
        QVERIFY(answer("GET", QStringLiteral("/api/auth/me"), 401, R"({"detail":"expired"})", false));
        QTest::ignoreMessage(QtCriticalMsg, "[VoxleAppState] 请求 /api/auth/me 报错: expired");
        QVERIFY(!wait(f->account->fetchMe()));
        QVERIFY(f->account->isLoggedIn());

        f->account->logout();
        QCOMPARE(changes(), (QList<qsizetype>{2, 2, 2, 2}));
        QVERIFY(!f->account->isLoggedIn());
        QVERIFY(!f->account->aiCredentials());
        QCOMPARE(f->secret(kTokenItem), std::nullopt);
        QCOMPARE(f->secret(kKeyItem), std::optional(kServerKey));
        const qsizetype before = m_server.requests().size();
        QVERIFY(!wait(f->account->fetchMe()));
        QCOMPARE(wait(f->account->fetchAiCredentials()), std::optional(QStringLiteral("未登录")));
        QCOMPARE(m_server.requests().size(), before);
    }

    // Anonymous: fetched before every dictation; signed in: only while no key is stored, with the token.
    void ensureCredentials_anonymousProxyAndSignedIn()
    {
        auto f = fixture();
        f->keychain.save(QStringLiteral("sk-already-here"), kKeyItem);
        QCOMPARE(wait(f->account->ensureAiCredentials()), std::nullopt);
        QCOMPARE(wait(f->account->ensureAiCredentials()), std::nullopt);
        const QJsonArray fetches = m_server.requestsTo(kCredentialsPath);
        QCOMPARE(fetches.size(), 2);
        for (const QJsonValue &r : fetches) {
            QVERIFY(!headersOf(r).contains(QStringLiteral("authorization")));
            QCOMPARE(headersOf(r).value(QStringLiteral("x-device-id")).toString(), f->account->deviceIdentifier());
        }
        QCOMPARE(f->secret(kKeyItem), std::optional(kServerKey));

        QVERIFY(answer("GET", kCredentialsPath, 503, R"({"detail":"维护中"})"));
        QCOMPARE(wait(f->account->ensureAiCredentials()), std::optional(QStringLiteral("维护中")));
        // A record with a blank key never replaces a stored key, and alone leaves nothing usable.
        QVERIFY(answer("GET", kCredentialsPath, 200, R"({"apiKey":"  ","asrModel":"a","llmModel":"b"})"));
        QCOMPARE(wait(f->account->ensureAiCredentials()), std::nullopt);
        QCOMPARE(f->secret(kKeyItem), std::optional(kServerKey));
        f->keychain.remove(kKeyItem);
        QCOMPARE(wait(f->account->ensureAiCredentials()),
                 std::optional(QStringLiteral("无法获取 AI 配置，请稍后重试。")));

        // The proxy route needs no credentials.
        QVERIFY(m_server.script({}));
        f->useProxy = true;
        QCOMPARE(wait(f->account->ensureAiCredentials()), std::nullopt);
        QCOMPARE(m_server.requests().size(), 0);
        f->useProxy = false;
        signIn(*f);
        const qsizetype before = m_server.requests().size();
        // Signed in with a key: nothing is fetched.
        QCOMPARE(wait(f->account->ensureAiCredentials()), std::nullopt);
        QCOMPARE(m_server.requests().size(), before);
        // Signed in without a key: fetched with the token.
        f->keychain.remove(kKeyItem);
        QCOMPARE(wait(f->account->ensureAiCredentials()), std::nullopt);
        QCOMPARE(f->secret(kKeyItem), std::optional(kServerKey));
        const QJsonArray signedInFetches = m_server.requestsTo(kCredentialsPath);
        QCOMPARE(signedInFetches.size(), 2); // the sign-in's and this one
        QCOMPARE(authorizationOf(signedInFetches.last()), f->bearer());
        // Signed in, no key, fetch refused: the server's message.
        f->keychain.remove(kKeyItem);
        QVERIFY(answer("GET", kCredentialsPath, 401, R"({"detail":"登录已过期，请重新登录"})", false));
        QCOMPARE(wait(f->account->ensureAiCredentials()), std::optional(QStringLiteral("登录已过期，请重新登录")));
    }

    void proxyRoute_polishAndTranslateThroughBackend()
    {
        auto f = fixture();
        f->useProxy = true;
        f->rewriter->setLastNetworkErrorLabel(QStringLiteral("earlier"));
        QCOMPARE(wait(f->rewriter->polishText(QStringLiteral(" \n "))), std::nullopt);
        QCOMPARE(m_server.requests().size(), 0);

        QCOMPARE(wait(f->rewriter->polishText(QStringLiteral("  um so the the plan is fine  "))),
                 std::optional(QStringLiteral("So the plan is fine.")));
        QCOMPARE(f->rewriter->lastNetworkErrorLabel(), QStringLiteral("earlier"));
        const QJsonArray polish = m_server.requestsTo(QStringLiteral("/api/text/polish"));
        QCOMPARE(polish.size(), 1);
        QVERIFY(!headersOf(polish.first()).contains(QStringLiteral("authorization")));
        QCOMPARE(headersOf(polish.first()).value(QStringLiteral("x-device-id")).toString(),
                 f->account->deviceIdentifier());
        QCOMPARE(jsonBodyOf(polish.first()),
                 (QJsonObject{{QStringLiteral("raw_text"), QStringLiteral("um so the the plan is fine")},
                              {QStringLiteral("scene"), QStringLiteral("NotesOrEmail")}}));

        // The stand-in cannot translate offline and says so.
        QCOMPARE(wait(f->rewriter->translateText(QStringLiteral("你好"), TranslationTargetLanguage::ja)), std::nullopt);
        QCOMPARE(f->rewriter->lastNetworkErrorLabel(), QStringLiteral("本地服务无法离线翻译"));
        const QJsonArray translate = m_server.requestsTo(QStringLiteral("/api/text/translate"));
        QCOMPARE(jsonBodyOf(translate.first()).value(QStringLiteral("target_language")).toString(),
                 QStringLiteral("日语"));

        // A blank answer is no result and leaves the label alone.
        QVERIFY(answer("POST", QStringLiteral("/api/text/polish"), 200, R"({"text":"  \n"})"));
        f->rewriter->setLastNetworkErrorLabel(QString());
        QCOMPARE(wait(f->rewriter->polishText(QStringLiteral("x"))), std::nullopt);
        QCOMPARE(f->rewriter->lastNetworkErrorLabel(), QString());

        // Signed in: the token goes along.
        QVERIFY(m_server.script({}));
        signIn(*f);
        QVERIFY(wait(f->rewriter->polishText(QStringLiteral("hello"))));
        QVERIFY(!wait(f->rewriter->translateText(QStringLiteral("hello"), TranslationTargetLanguage::en)));
        const QJsonValue lastTranslate = m_server.requestsTo(QStringLiteral("/api/text/translate")).last();
        QCOMPARE(jsonBodyOf(lastTranslate).value(QStringLiteral("target_language")).toString(), QStringLiteral("英文"));
        // Polish and translate post through one path: one of them shows the token goes along.
        QCOMPARE(authorizationOf(lastTranslate), f->bearer());
    }

    void directRoute_chatCompletionsTheirCancelTimeoutAndRefusal()
    {
        auto f = fixture();
        // Every failure is published, also one that repeats the label (the application state shows others too).
        QSignalSpy reported(f->rewriter.get(), &TextRewriter::networkErrorReported);
        for (int i = 0; i < 2; ++i)
            QCOMPARE(wait(f->rewriter->polishText(QStringLiteral("hello"))), std::nullopt);
        QCOMPARE(reported, (QList<QVariantList>(2, {QStringLiteral("未配置 API Key")})));
        QCOMPARE(f->rewriter->lastNetworkErrorLabel(), QStringLiteral("未配置 API Key"));
        QCOMPARE(m_server.requests().size(), 0);

        f->keychain.save(QStringLiteral(" ") + kServerKey + QStringLiteral("\n"), kKeyItem);
        QCOMPARE(wait(f->rewriter->polishText(QStringLiteral("嗯，明天开会"))),
                 std::optional(QStringLiteral("明天开会。")));
        QCOMPARE(f->rewriter->lastNetworkErrorLabel(), QString());
        const QJsonArray chats = m_server.requestsTo(kChatPath);
        QCOMPARE(chats.size(), 1);
        const QJsonObject headers = headersOf(chats.first());
        QCOMPARE(headers.value(QStringLiteral("authorization")).toString(), QStringLiteral("Bearer ") + kServerKey);
        QCOMPARE(headers.value(QStringLiteral("content-type")).toString(), QStringLiteral("application/json"));
        QVERIFY(!headers.contains(QStringLiteral("x-device-id")));
        QJsonObject body = jsonBodyOf(chats.first());
        QVERIFY(chatMessage(chats.first(), 0).startsWith(QStringLiteral("你是专业的写作编辑")));
        QCOMPARE(chatMessage(chats.first(), 1), QStringLiteral("嗯，明天开会"));
        body.remove(QStringLiteral("messages"));
        QCOMPARE(body, (QJsonObject{{QStringLiteral("max_tokens"), 800},
                                    {QStringLiteral("model"), QStringLiteral("qwen-plus")},
                                    {QStringLiteral("stream"), false}}));

        QCOMPARE(wait(f->rewriter->translateText(QStringLiteral("早上好"), TranslationTargetLanguage::ja)),
                 std::nullopt);
        QCOMPARE(f->rewriter->lastNetworkErrorLabel(), QStringLiteral("本地服务无法离线翻译"));
        QVERIFY(chatMessage(m_server.requestsTo(kChatPath).last(), 0)
                    .startsWith(QStringLiteral("请把用户的语音内容翻译成日语。\n\n")));

        QVERIFY(m_server.script(LocalServerProcess::hang(kChatPath)));
        // A request cancelled on its way or before it starts is a failure, not an empty answer.
        const QList<TextRewriter::ChatMessage> hi{{QStringLiteral("user"), QStringLiteral("hi")}};
        CancelToken escape;
        auto cancelled = f->rewriter->chatCompletion(hi, 8, 30.0, escape);
        QVERIFY(QTest::qWaitFor([&] { return m_server.requestsTo(kChatPath).size() == 1; }));
        escape.cancel();
        QVERIFY(!QCoro::waitFor(cancelled));
        QVERIFY(!wait(f->rewriter->chatCompletion(hi, 8, 30.0, escape)));
        // Escape is not a network failure (the last one's label stays), and a request cancelled before it starts
        // never leaves.
        QCOMPARE(wait(f->rewriter->polishText(QStringLiteral("hello"), escape)), std::nullopt);
        QCOMPARE(f->rewriter->lastNetworkErrorLabel(), QStringLiteral("本地服务无法离线翻译"));

        auto task = f->rewriter->polishText(QStringLiteral("hello"));
        QVERIFY(QTest::qWaitFor([&] { return m_server.requestsTo(kChatPath).size() == 2; }));
        f->clock.advance(29999);
        QCoreApplication::processEvents();
        QVERIFY(!task.isReady());
        f->clock.advance(1);
        QCOMPARE(QCoro::waitFor(task), std::nullopt);
        QCOMPARE(f->rewriter->lastNetworkErrorLabel(),
                 QStringLiteral("无法连接 DashScope：连接超时（可能需要代理或网络不通）。"));

        // Nobody listens at the chat endpoint.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const auto refused = fixture(QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort()));
        probe.close();
        refused->keychain.save(kServerKey, kKeyItem);
        QCOMPARE(wait(refused->rewriter->polishText(QStringLiteral("hello"))), std::nullopt);
        QCOMPARE(refused->rewriter->lastNetworkErrorLabel(),
                 QStringLiteral("无法连接 DashScope：无法连接到服务器（可能需要代理或被网络阻断）。"));
    }

    void directRoute_errorBodies_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("label");
        QTest::newRow("401 json") << 401 << QByteArray(R"({"error":{"message":"Incorrect API key provided."}})")
                                  << QStringLiteral("Incorrect API key provided.");
        QTest::newRow("400 msg") << 400 << QByteArray(R"({"error":{"message":"","msg":"m2"}})") << QStringLiteral("m2");
        QTest::newRow("429 top") << 429 << QByteArray(R"({"error":"flat","message":"top"})") << QStringLiteral("top");
        QTest::newRow("401 text") << 401 << QByteArray("Unauthorized") << QStringLiteral("连接失败（HTTP 401）");
        QTest::newRow("201") << 201 << QByteArray(R"({"choices":[{"message":{"content":"x"}}]})")
                             << QStringLiteral("连接失败（HTTP 201）");
        QTest::newRow("not json") << 200 << QByteArray("not json") << QStringLiteral("无法连接 DashScope：illegal value（302）");
        QTest::newRow("empty choices") << 200 << QByteArray(R"({"choices":[]})") << QStringLiteral("返回解析失败");
        QTest::newRow("content not string")
            << 200 << QByteArray(R"({"choices":[{"message":{"content":null}}]})") << QStringLiteral("返回解析失败");
        QTest::newRow("empty content") << 200 << QByteArray(R"({"choices":[{"message":{"content":" "}}]})")
                                       << QString();
        QTest::newRow("oversized") << 200
                                   << QByteArray(R"({"choices":[{"message":{"content":")") + QByteArray(5 << 20, 'a') +
                                          QByteArray(R"("}}]})")
                                   << QStringLiteral("返回解析失败");
    }
    void directRoute_errorBodies()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, label);
        auto f = fixture();
        f->keychain.save(kServerKey, kKeyItem);
        QVERIFY(answer("POST", kChatPath, status, body));
        QSignalSpy reported(f->rewriter.get(), &TextRewriter::networkErrorReported);
        QCOMPARE(wait(f->rewriter->polishText(QStringLiteral("hello"))), std::nullopt);
        QCOMPARE(reported, QList<QVariantList>{{label}});
    }

    // The application's cloud: usage reported only when signed in, recognition through the proxy, cancelling.
    void cloud_usageProxyRecognitionAndCancellation()
    {
        auto f = fixture();
        VoxleCloud cloud(*f->account, m_nam, f->clock);
        QVERIFY(!cloud.isLoggedIn());
        wait(f->account->reportUsageEvent(QStringLiteral("polish"), QStringLiteral("润色听写"), QStringLiteral("你好"),
                                          QStringLiteral("你好。"), 1200));
        const auto empty = wait(cloud.recognizeViaProxy(QByteArray(), CancelToken()));
        QVERIFY(!empty.text);
        QVERIFY(empty.failure.isEmpty());
        // Signed out, usage is not reported; an empty recording is not uploaded.
        QCOMPARE(m_server.requests().size(), 0);

        // The stand-in refuses an upload that is not one 16 kHz mono WAV file part: the answer proves its shape.
        // The device id always goes along, the token only when signed in.
        QCOMPARE(m_server.request("POST", QStringLiteral("/__control/asr"), R"({"sentences":["明天见。"]})"), 200);
        const QByteArray pcm(32000, '\x01');
        const auto heard = wait(cloud.recognizeViaProxy(pcm, CancelToken()));
        QCOMPARE(heard.text, std::optional(QStringLiteral("明天见。")));
        signIn(*f);
        QVERIFY(cloud.isLoggedIn());
        wait(cloud.recognizeViaProxy(pcm, CancelToken()));
        const QJsonArray uploads = m_server.requestsTo(QStringLiteral("/api/speech/recognize"));
        QCOMPARE(uploads.size(), 2);
        for (const QJsonValue &upload : uploads)
            QCOMPARE(headersOf(upload).value(QStringLiteral("x-device-id")).toString(), f->account->deviceIdentifier());
        QVERIFY(!headersOf(uploads.at(0)).contains(QStringLiteral("authorization")));
        QCOMPARE(authorizationOf(uploads.at(1)), f->bearer());

        wait(f->account->reportUsageEvent(QStringLiteral("translate"), QStringLiteral("语音翻译"),
                                          QStringLiteral("👍🏽 你好"), QStringLiteral("e\u0301 hi"), 2345));
        // The application's cloud reports on its own, nobody awaits it.
        cloud.reportUsageEvent(QStringLiteral("record"), QStringLiteral("润色听写"), QStringLiteral("ab"),
                               QStringLiteral("abc"), 10);
        QVERIFY(QTest::qWaitFor([&] { return m_server.usageEvents().size() == 2; }));
        // The unawaited report still holds the fixture's clock until its reply is done with.
        QVERIFY(QTest::qWaitFor([&] { return m_nam.findChildren<QNetworkReply *>().isEmpty(); }));
        const QJsonArray events = m_server.usageEvents();
        const QJsonObject first = events.at(0).toObject();
        QCOMPARE(first.value(QStringLiteral("authorization")).toString(), f->bearer());
        QCOMPARE(first.value(QStringLiteral("device_id")).toString(), QString());
        QCOMPARE(first.value(QStringLiteral("body")).toObject(),
                 (QJsonObject{{QStringLiteral("event_type"), QStringLiteral("translate")},
                              {QStringLiteral("mode"), QStringLiteral("语音翻译")},
                              {QStringLiteral("raw_text_length"), 4},
                              {QStringLiteral("output_text_length"), 4},
                              {QStringLiteral("speech_duration_ms"), 2345}}));
        QCOMPARE(events.at(1)[QStringLiteral("body")][QStringLiteral("event_type")].toString(),
                 QStringLiteral("dictation"));
        QCOMPARE(events.at(1)[QStringLiteral("body")][QStringLiteral("output_text_length")].toInt(), 3);

        // A failed report (here: an empty answer) is only logged.
        QVERIFY(answer("POST", QStringLiteral("/api/usage/events"), 204, "", false));
        QTest::ignoreMessage(QtCriticalMsg, "[VoxleServerApi] 解码失败: empty body");
        QTest::ignoreMessage(QtCriticalMsg, "上报使用量失败: 返回解析失败");
        wait(f->account->reportUsage(QStringLiteral("dictation"), std::nullopt, 1, 1, 1));

        // The engine's own failure reaches the caller as its message.
        QCOMPARE(m_server.request("POST", QStringLiteral("/__control/asr"),
                                  R"({"fail":{"code":"NO_VALID_AUDIO_ERROR","message":"no valid audio"}})"),
                 200);
        QCOMPARE(wait(cloud.recognizeViaProxy(QByteArray(10, '\x01'), CancelToken())).failure,
                 QStringLiteral("no valid audio"));
        QVERIFY(answer("POST", QStringLiteral("/api/speech/recognize"), 413, R"({"detail":"录音过长"})"));
        const auto refused = wait(cloud.recognizeViaProxy(QByteArray(10, '\x01'), CancelToken()));
        QVERIFY(!refused.text);
        QCOMPARE(refused.failure, QStringLiteral("录音过长"));

        // Cancelling the finishing task aborts the upload at once.
        QVERIFY(m_server.script(LocalServerProcess::hang(QStringLiteral("/api/text/polish"))));
        f->useProxy = true;
        CancelToken cancel;
        auto task = cloud.polishText(QStringLiteral("hello"), cancel);
        QVERIFY(QTest::qWaitFor([&] { return m_server.requestsTo(QStringLiteral("/api/text/polish")).size() == 1; }));
        cancel.cancel();
        QCOMPARE(QCoro::waitFor(task), std::nullopt);
        QCOMPARE(f->clock.pendingTimers(), 0);
        QCOMPARE(f->rewriter->lastNetworkErrorLabel(), QString());
    }
};

QTEST_GUILESS_MAIN(TestVoxleAccount)
#include "tst_VoxleAccount.moc"
