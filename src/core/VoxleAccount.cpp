#include "core/VoxleAccount.h"

#include "base/Clock.h"
#include "base/Logging.h"
#include "base/TextCount.h"
#include "core/AuthUi.h"
#include "core/KeychainStore.h"
#include "net/Settle.h"
#include "net/VoxleEndpoints.h"
#include "platform/UserDefaults.h"

#include <QJsonDocument>
#include <QRegularExpression>

namespace {
const QString kTokenKey = QStringLiteral("voxle_auth_token");
const QString kExpiresKey = QStringLiteral("voxle_auth_expires_at_utc");
const QString kApiKeyKey = QStringLiteral("dashscope_api_key");
const QString kUserJsonKey = QStringLiteral("voxle_auth_user_json");
const QString kCredentialsJsonKey = QStringLiteral("voxle_ai_credentials_json");
const QString kHasRunBeforeKey = QStringLiteral("has_run_before_v1");
const QString kNoCredentials = QStringLiteral("无法获取 AI 配置，请稍后重试。");
// How long to wait before asking an unreachable or locked secret store again.
constexpr qint64 kRestoreRetryMs = 10'000;

QByteArray encodeRecord(VoxleAiCredentialsDto record)
{
    // The key lives in the secret store; the record keeps its shape with a blank key.
    record.apiKey.clear();
    return QJsonDocument(record.toJson()).toJson(QJsonDocument::Compact);
}

QString keychainMessage(const KeychainError &error)
{
    return QStringLiteral("钥匙串操作失败（%1）").arg(error.status);
}

template <typename Record> std::optional<Record> decodeStored(const std::optional<QByteArray> &data)
{
    if (!data)
        return std::nullopt;
    const QJsonDocument doc = QJsonDocument::fromJson(*data);
    if (!doc.isObject())
        return std::nullopt;
    return Record::fromJson(doc.object());
}
} // namespace

VoxleAccount::Endpoints VoxleAccount::Endpoints::standard()
{
    return Endpoints{VoxleEndpoints::backendBaseURL(), VoxleEndpoints::dashScopeChatCompletionsURL()};
}

VoxleAccount::VoxleAccount(UserDefaults &defaults, KeychainStore &keychain, Clock &clock,
                           QNetworkAccessManager &session, std::function<bool()> useProxy, AuthUi *ui,
                           Endpoints endpoints, QObject *parent)
    : QObject(parent), m_defaults(defaults), m_keychain(keychain), m_clock(clock), m_session(session),
      m_useProxy(std::move(useProxy)), m_ui(ui), m_endpoints(std::move(endpoints))
{
    qCInfo(lcAppState).noquote() << "X-Device-Id:" << deviceIdentifier();
}

VoxleAccount::~VoxleAccount()
{
    m_clock.cancelTimer(m_restoreRetryTimer);
}

VoxleServerApi VoxleAccount::makeApi() const
{
    return VoxleServerApi(m_endpoints.backend, m_session, m_clock);
}

QString VoxleAccount::deviceIdentifier() const
{
    return VoxleServerApi::deviceIdentifier(m_defaults);
}

std::optional<QString> VoxleAccount::readAuthToken() const
{
    try {
        const std::optional<QString> stored = m_keychain.read(kTokenKey);
        if (!stored)
            return std::nullopt;
        const QString token = stored->trimmed();
        if (token.isEmpty())
            return std::nullopt;
        return token;
    } catch (const KeychainError &) {
        return std::nullopt;
    }
}

std::optional<QString> VoxleAccount::storedApiKey() const
{
    try {
        const std::optional<QString> stored = m_keychain.read(kApiKeyKey);
        if (!stored || stored->trimmed().isEmpty())
            return std::nullopt;
        return stored->trimmed();
    } catch (const KeychainError &) {
        return std::nullopt;
    }
}

void VoxleAccount::setLoggedIn(bool value)
{
    if (m_isLoggedIn == value)
        return;
    m_isLoggedIn = value;
    emit isLoggedInChanged();
}

void VoxleAccount::setAuthUser(std::optional<VoxleUserSummaryDto> user)
{
    if (m_authUser == user)
        return;
    m_authUser = std::move(user);
    emit authUserChanged();
}

void VoxleAccount::setAuthExpiresAtUtc(std::optional<QString> text)
{
    if (m_authExpiresAtUtc == text)
        return;
    m_authExpiresAtUtc = std::move(text);
    emit authExpiresAtUtcChanged();
}

void VoxleAccount::setAiCredentials(std::optional<VoxleAiCredentialsDto> record)
{
    if (m_aiCredentials == record)
        return;
    m_aiCredentials = std::move(record);
    emit aiCredentialsChanged();
}

// ---- sign-in ----

QCoro::Task<std::optional<QString>> VoxleAccount::sendCode(QString phone, std::optional<QString> sliderToken,
                                                           CancelToken cancel)
{
    phone = phone.trimmed();
    if (phone.isEmpty())
        co_return QStringLiteral("请输入手机号");
    VoxleServerApi api = makeApi();
    const VoxleSendCodeRequest request{phone, sliderToken};
    const Result<VoxleSendCodeResponse> sent = co_await settle(
        api.post<VoxleSendCodeResponse>(QStringLiteral("/api/auth/send-code"), request, std::nullopt, {}, cancel));
    if (!sent)
        co_return sent.error();
    co_return std::nullopt;
}

QCoro::Task<std::optional<QString>> VoxleAccount::phoneLogin(QString phone, QString code, CancelToken cancel)
{
    phone = phone.trimmed();
    code = code.trimmed();
    if (phone.isEmpty() || code.isEmpty())
        co_return QStringLiteral("请输入手机号和验证码");
    VoxleServerApi api = makeApi();
    const VoxlePhoneLoginRequest request{phone, code};
    const Result<VoxleAuthResponse> response = co_await settle(
        api.post<VoxleAuthResponse>(QStringLiteral("/api/auth/phone-login"), request, std::nullopt, {}, cancel));
    if (!response)
        co_return response.error();
    if (auto failure = persistAuth(*response))
        co_return failure;

    // Signed in even when the credentials cannot be fetched now; an earlier record still provides the key.
    co_await fetchAiCredentials(cancel);
    if (m_aiCredentials)
        saveRecordKey(*m_aiCredentials);
    co_return std::nullopt;
}

std::optional<QString> VoxleAccount::persistAuth(const VoxleAuthResponse &response)
{
    std::optional<QString> previousToken;
    try {
        previousToken = m_keychain.read(kTokenKey);
    } catch (const KeychainError &) {
    }
    try {
        m_keychain.save(response.token, kTokenKey);
    } catch (const KeychainError &error) {
        return keychainMessage(error);
    }
    try {
        m_keychain.save(response.expiresAtUtc, kExpiresKey);
    } catch (const KeychainError &error) {
        // Never half signed in: the new token goes again, and a previous one (whose expiry is still stored)
        // comes back.
        try {
            if (previousToken)
                m_keychain.save(*previousToken, kTokenKey);
            else
                m_keychain.remove(kTokenKey);
        } catch (const KeychainError &) {
            qCWarning(lcAppState) << "[VoxleAccount] 无法撤回未完成的登录";
        }
        return keychainMessage(error);
    }
    m_restorePending = false;
    m_defaults.setData(kUserJsonKey, QJsonDocument(response.user.toJson()).toJson(QJsonDocument::Compact));
    setAuthUser(response.user);
    setAuthExpiresAtUtc(response.expiresAtUtc);
    setLoggedIn(true);
    return std::nullopt;
}

void VoxleAccount::logout()
{
    m_restorePending = false;
    for (const QString &key : {kTokenKey, kExpiresKey}) {
        try {
            m_keychain.remove(key);
        } catch (const KeychainError &) {
        }
    }
    m_defaults.remove(kUserJsonKey);
    m_defaults.remove(kCredentialsJsonKey);
    setAuthUser(std::nullopt);
    setAuthExpiresAtUtc(std::nullopt);
    setAiCredentials(std::nullopt);
    setLoggedIn(false);
}

void VoxleAccount::restoreAuthState()
{
    if (qEnvironmentVariable("XCODE_RUNNING_FOR_PREVIEWS") == QLatin1String("1"))
        return;
    if (!m_defaults.boolean(kHasRunBeforeKey).value_or(false)) {
        // Secrets can outlive an uninstall; a fresh installation starts signed out.
        m_defaults.setBool(kHasRunBeforeKey, true);
        logout();
        return;
    }
    if (auto user = decodeStored<VoxleUserSummaryDto>(m_defaults.data(kUserJsonKey)))
        setAuthUser(user);
    restoreCredentialsRecord();
    std::optional<QString> token;
    std::optional<QString> expires;
    try {
        token = m_keychain.read(kTokenKey);
        expires = m_keychain.read(kExpiresKey);
    } catch (const KeychainError &error) {
        // The keyring may start after this program or still be locked: that is not "no token". Nothing is
        // cleared; the restore is tried again later.
        qCWarning(lcAppState).noquote() << "[VoxleAccount] 钥匙串暂不可用，稍后重试登录状态:" << error.status;
        m_restorePending = true;
        scheduleRestoreRetry();
        return;
    }
    m_restorePending = false;
    setAuthExpiresAtUtc(expires);
    if (isAuthValid(token, expires) && m_authUser)
        setLoggedIn(true);
    else
        logout();
}

void VoxleAccount::scheduleRestoreRetry()
{
    m_clock.cancelTimer(m_restoreRetryTimer);
    m_restoreRetryTimer = m_clock.schedule(kRestoreRetryMs, [this]() {
        // A sign-in or sign-out meanwhile has settled the question.
        if (m_restorePending)
            restoreAuthState();
    });
}

void VoxleAccount::restoreCredentialsRecord()
{
    std::optional<VoxleAiCredentialsDto> record =
        decodeStored<VoxleAiCredentialsDto>(m_defaults.data(kCredentialsJsonKey));
    if (!record)
        return;
    const QString fileKey = record->apiKey.trimmed();
    try {
        std::optional<QString> stored = m_keychain.read(kApiKeyKey);
        if (!fileKey.isEmpty()) {
            // A settings file from before the key moved to the secret store. A key already in the store is
            // the newer choice; otherwise the file's key moves there, and only a confirmed save blanks the file.
            if (!stored || stored->trimmed().isEmpty()) {
                m_keychain.save(fileKey, kApiKeyKey);
                stored = fileKey;
            }
            m_defaults.setData(kCredentialsJsonKey, encodeRecord(*record));
        }
        record->apiKey = stored.value_or(QString()).trimmed();
    } catch (const KeychainError &) {
        // Unreachable store: the file stays as it is, its key is used for now.
    }
    setAiCredentials(record);
}

std::optional<QDateTime> VoxleAccount::parseUtcDate(const QString &text)
{
    static const QRegularExpression form(
        QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})T(\\d{2}):(\\d{2}):(\\d{2})(\\.\\d+)?(Z|[+-]\\d{2}:\\d{2})$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    QDateTime moment(date, time, Qt::UTC);
    if (const QString fraction = m.captured(7); !fraction.isEmpty())
        moment = moment.addMSecs(qint64(fraction.mid(1, 3).leftJustified(3, QLatin1Char('0')).toInt()));
    const QString zone = m.captured(8);
    if (zone.compare(QLatin1String("Z"), Qt::CaseInsensitive) != 0) {
        const int hours = zone.mid(1, 2).toInt();
        const int minutes = zone.mid(4, 2).toInt();
        if (hours > 23 || minutes > 59)
            return std::nullopt;
        const int offset = (hours * 60 + minutes) * 60 * (zone.startsWith(QLatin1Char('-')) ? -1 : 1);
        moment = moment.addSecs(-offset);
    }
    return moment;
}

bool VoxleAccount::isAuthValid(const std::optional<QString> &token, const std::optional<QString> &expiresAtUtc,
                               const QDateTime &now)
{
    if (!token || token->trimmed().size() < 11)
        return false;
    const QString expires = expiresAtUtc.value_or(QString()).trimmed();
    if (expires.isEmpty())
        return false;
    const std::optional<QDateTime> moment = parseUtcDate(expires);
    return moment && *moment > now;
}

bool VoxleAccount::isAuthValid(const std::optional<QString> &token, const std::optional<QString> &expiresAtUtc) const
{
    return isAuthValid(token, expiresAtUtc, m_clock.now());
}

QCoro::Task<std::optional<VoxleUserSummaryDto>> VoxleAccount::fetchMe(CancelToken cancel)
{
    const std::optional<QString> token = readAuthToken();
    if (!token)
        co_return std::nullopt;
    VoxleServerApi api = makeApi();
    const QString path = QStringLiteral("/api/auth/me");
    qCDebug(lcAppState).noquote() << "[VoxleAppState] 请求接口:"
                                  << VoxleEndpoints::appendPath(api.baseUrl(), path).toString();
    const Result<VoxleUserSummaryDto> me = co_await settle(api.get<VoxleUserSummaryDto>(path, token, {}, cancel));
    if (!me)
        qCCritical(lcAppState).noquote() << "[VoxleAppState] 请求 /api/auth/me 报错:" << me.error();
    co_return me.toOptional();
}

QCoro::Task<VoxleAccount::Outcome<VoxleSliderChallengeResponse>> VoxleAccount::sliderChallenge(CancelToken cancel)
{
    VoxleServerApi api = makeApi();
    const Result<VoxleSliderChallengeResponse> challenge = co_await settle(
        api.get<VoxleSliderChallengeResponse>(QStringLiteral("/api/auth/slider-challenge"), std::nullopt, {}, cancel));
    co_return Outcome<VoxleSliderChallengeResponse>{challenge.toOptional(), challenge.error()};
}

QCoro::Task<VoxleAccount::Outcome<QString>> VoxleAccount::sliderVerify(QString challengeId, qint64 position,
                                                                       CancelToken cancel)
{
    VoxleServerApi api = makeApi();
    const VoxleSliderVerifyRequest request{challengeId, position};
    const Result<VoxleSliderVerifyResponse> verified = co_await settle(api.post<VoxleSliderVerifyResponse>(
        QStringLiteral("/api/auth/slider-verify"), request, std::nullopt, {}, cancel));
    if (!verified)
        co_return Outcome<QString>{std::nullopt, verified.error()};
    co_return Outcome<QString>{verified->sliderToken, QString()};
}

void VoxleAccount::presentAuthWindow()
{
    if (m_ui)
        m_ui->presentAuthWindow();
}

QCoro::Task<std::optional<QString>> VoxleAccount::runSliderCaptcha()
{
    if (!m_ui)
        co_return std::nullopt;
    co_return co_await m_ui->runSliderCaptcha();
}

// ---- credentials ----

QCoro::Task<std::optional<QString>> VoxleAccount::fetchAiCredentials(CancelToken cancel)
{
    const std::optional<QString> token = readAuthToken();
    if (!token)
        co_return QStringLiteral("未登录");
    co_return co_await fetchCredentials(token, false, std::move(cancel));
}

QCoro::Task<std::optional<QString>> VoxleAccount::fetchAiCredentialsAnonymously(CancelToken cancel)
{
    co_return co_await fetchCredentials(std::nullopt, true, std::move(cancel));
}

QCoro::Task<std::optional<QString>> VoxleAccount::fetchCredentials(std::optional<QString> token, bool anonymous,
                                                                   CancelToken cancel)
{
    VoxleServerApi api = makeApi();
    const VoxleServerApi::Headers headers{{QStringLiteral("X-Device-Id"), deviceIdentifier()}};
    const Result<VoxleAiCredentialsDto> record = co_await settle(
        api.get<VoxleAiCredentialsDto>(QStringLiteral("/api/config/ai-credentials"), token, headers, cancel));
    if (!record)
        co_return record.error();
    applyAiCredentials(*record);
    if (anonymous)
        saveRecordKey(*record);
    co_return std::nullopt;
}

void VoxleAccount::applyAiCredentials(const VoxleAiCredentialsDto &record)
{
    setAiCredentials(record);
    m_defaults.setData(kCredentialsJsonKey, encodeRecord(record));
}

void VoxleAccount::saveRecordKey(const VoxleAiCredentialsDto &record)
{
    if (record.apiKey.trimmed().isEmpty())
        return;
    emit apiKeyReceived(record.apiKey);
}

QCoro::Task<std::optional<QString>> VoxleAccount::ensureAiCredentials(CancelToken cancel)
{
    if (useProxy())
        co_return std::nullopt;
    if (readAuthToken()) {
        if (storedApiKey())
            co_return std::nullopt;
        const std::optional<QString> message = co_await fetchAiCredentials(cancel);
        if (!message && m_aiCredentials)
            saveRecordKey(*m_aiCredentials);
        if (storedApiKey())
            co_return std::nullopt;
        co_return message.value_or(kNoCredentials);
    }
    // Anonymous installations fetch before every dictation, also when a key is already stored.
    if (auto message = co_await fetchAiCredentialsAnonymously(cancel))
        co_return message;
    if (storedApiKey())
        co_return std::nullopt;
    co_return kNoCredentials;
}

// ---- usage ----

QCoro::Task<> VoxleAccount::reportUsageEvent(QString kind, QString modeLabel, QString rawText, QString outputText,
                                             qint64 durationMs)
{
    const QString eventType =
        kind == QLatin1String("translate") ? QStringLiteral("translate") : QStringLiteral("dictation");
    const QString mode =
        modeLabel == label(DictationMode::translate) ? label(DictationMode::translate) : label(DictationMode::polish);
    co_await reportUsage(eventType, mode, Voxle::characterCount(rawText), Voxle::characterCount(outputText),
                         durationMs);
}

QCoro::Task<> VoxleAccount::reportUsage(QString eventType, std::optional<QString> mode, qint64 rawTextLength,
                                        qint64 outputTextLength, qint64 speechDurationMs)
{
    const std::optional<QString> token = readAuthToken();
    if (!token)
        co_return;
    VoxleServerApi api = makeApi();
    const VoxleReportUsageRequest request{eventType, mode, rawTextLength, outputTextLength, speechDurationMs};
    const Result<std::optional<VoxleTextResponse>> reported = co_await settle(
        api.post<std::optional<VoxleTextResponse>>(QStringLiteral("/api/usage/events"), request, token, {}));
    if (!reported)
        qCCritical(lcAppState).noquote() << "上报使用量失败:" << reported.error();
}
