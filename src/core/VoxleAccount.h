#pragma once

#include "base/CancelToken.h"
#include "base/VoxleTypes.h"
#include "net/VoxleServerApi.h"
#include "net/VoxleWireRecords.h"

#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QObject>
#include <QUrl>
#include <functional>
#include <optional>

class AuthUi;
class Clock;
class KeychainStore;
class QNetworkAccessManager;
class UserDefaults;

// The account part of the application state: sign-in by phone and SMS code, the signed-in user, sign-out,
// restoring all of it at start-up, the cloud credentials (DashScope key and model names) and usage reports.
// Network operations return a message for the user (nothing on success) and never throw. Main thread only.
class VoxleAccount : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isLoggedIn READ isLoggedIn NOTIFY isLoggedInChanged)
    Q_PROPERTY(QString authExpiresAtUtc READ authExpiresAtUtcText NOTIFY authExpiresAtUtcChanged)

public:
    // Where the two services are; the defaults are the process-wide constants.
    struct Endpoints {
        QUrl backend;
        QUrl chatCompletions;
        static Endpoints standard();
    };

    template <typename T> struct Outcome {
        std::optional<T> value;
        QString message; // set when value is not
    };

    VoxleAccount(UserDefaults &defaults, KeychainStore &keychain, Clock &clock, QNetworkAccessManager &session,
                 std::function<bool()> useProxy, AuthUi *ui = nullptr, Endpoints endpoints = Endpoints::standard(),
                 QObject *parent = nullptr);
    ~VoxleAccount() override;

    const Endpoints &endpoints() const { return m_endpoints; }
    bool isLoggedIn() const { return m_isLoggedIn; }
    const std::optional<VoxleUserSummaryDto> &authUser() const { return m_authUser; }
    const std::optional<QString> &authExpiresAtUtc() const { return m_authExpiresAtUtc; }
    QString authExpiresAtUtcText() const { return m_authExpiresAtUtc.value_or(QString()); }
    const std::optional<VoxleAiCredentialsDto> &aiCredentials() const { return m_aiCredentials; }
    // The proxy setting, read at the start of each call that depends on it.
    bool useProxy() const { return m_useProxy && m_useProxy(); }

    QString deviceIdentifier() const;
    // The stored session token, trimmed; nothing when absent, blank or unreadable.
    std::optional<QString> readAuthToken() const;
    // The stored DashScope key, trimmed; nothing when absent, blank or unreadable.
    std::optional<QString> storedApiKey() const;

    QCoro::Task<std::optional<QString>> sendCode(QString phone, std::optional<QString> sliderToken,
                                                 CancelToken cancel = {});
    QCoro::Task<std::optional<QString>> phoneLogin(QString phone, QString code, CancelToken cancel = {});
    void logout();
    void restoreAuthState();
    QCoro::Task<std::optional<VoxleUserSummaryDto>> fetchMe(CancelToken cancel = {});
    QCoro::Task<std::optional<QString>> fetchAiCredentials(CancelToken cancel = {});
    QCoro::Task<std::optional<QString>> fetchAiCredentialsAnonymously(CancelToken cancel = {});
    void applyAiCredentials(const VoxleAiCredentialsDto &record);
    QCoro::Task<std::optional<QString>> ensureAiCredentials(CancelToken cancel = {});

    // The two captcha calls of the sign-in window.
    QCoro::Task<Outcome<VoxleSliderChallengeResponse>> sliderChallenge(CancelToken cancel = {});
    QCoro::Task<Outcome<QString>> sliderVerify(QString challengeId, qint64 position, CancelToken cancel = {});

    void presentAuthWindow();
    QCoro::Task<std::optional<QString>> runSliderCaptcha();

    // `kind` is the history kind's raw value ("record", "polish", "translate"); `modeLabel` the label of the
    // active dictation mode. Sends nothing when signed out.
    QCoro::Task<> reportUsageEvent(QString kind, QString modeLabel, QString rawText, QString outputText,
                                   qint64 durationMs);
    QCoro::Task<> reportUsage(QString eventType, std::optional<QString> mode, qint64 rawTextLength,
                              qint64 outputTextLength, qint64 speechDurationMs);

    // The token must be at least 11 characters and the expiry an ISO 8601 internet date-time in the future.
    static bool isAuthValid(const std::optional<QString> &token, const std::optional<QString> &expiresAtUtc,
                            const QDateTime &now);
    bool isAuthValid(const std::optional<QString> &token, const std::optional<QString> &expiresAtUtc) const;
    // "2026-12-05T08:00:00.000Z" or "2026-12-05T08:00:00Z" (an offset instead of Z is accepted too).
    static std::optional<QDateTime> parseUtcDate(const QString &text);

signals:
    void isLoggedInChanged();
    void authUserChanged();
    void authExpiresAtUtcChanged();
    void aiCredentialsChanged();
    // A fetched credentials record carried this key (never blank): the application state stores it under
    // "dashscope_api_key". Connected directly: the account reads the store right after emitting.
    void apiKeyReceived(const QString &key);

private:
    VoxleServerApi makeApi() const;
    std::optional<QString> persistAuth(const VoxleAuthResponse &response);
    QCoro::Task<std::optional<QString>> fetchCredentials(std::optional<QString> token, bool anonymous,
                                                         CancelToken cancel);
    // Hands a credentials record's key on (apiKeyReceived); a blank one never replaces a stored key.
    void saveRecordKey(const VoxleAiCredentialsDto &record);
    // The credentials record of the settings file, its key taken from (or, once, moved to) the secret store.
    void restoreCredentialsRecord();
    void scheduleRestoreRetry();

    void setLoggedIn(bool value);
    void setAuthUser(std::optional<VoxleUserSummaryDto> user);
    void setAuthExpiresAtUtc(std::optional<QString> text);
    void setAiCredentials(std::optional<VoxleAiCredentialsDto> record);

    UserDefaults &m_defaults;
    KeychainStore &m_keychain;
    Clock &m_clock;
    QNetworkAccessManager &m_session;
    std::function<bool()> m_useProxy;
    AuthUi *m_ui;
    Endpoints m_endpoints;

    bool m_isLoggedIn = false;
    std::optional<VoxleUserSummaryDto> m_authUser;
    std::optional<QString> m_authExpiresAtUtc;
    std::optional<VoxleAiCredentialsDto> m_aiCredentials;
    // Set while the secret store could not be read at start-up; the restore is retried on the clock.
    bool m_restorePending = false;
    quint64 m_restoreRetryTimer = 0;
};
