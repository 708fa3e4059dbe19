#pragma once

#include "core/DictationCloud.h"

class Clock;
class QNetworkAccessManager;
class VoxleAccount;

// The controller's view of the cloud: the account's credential, polish, translation and usage operations,
// and proxy recognition against the same backend.
class VoxleCloud final : public DictationCloud
{
public:
    VoxleCloud(VoxleAccount &account, QNetworkAccessManager &session, Clock &clock);

    QCoro::Task<std::optional<QString>> ensureAiCredentials(CancelToken token) override;
    QCoro::Task<ProxyResult> recognizeViaProxy(QByteArray pcm, CancelToken token) override;
    QCoro::Task<std::optional<QString>> polishText(QString text, CancelToken token) override;
    QCoro::Task<std::optional<QString>> translateText(QString text, TranslationTargetLanguage target,
                                                      CancelToken token) override;
    void reportUsageEvent(QString kind, QString modeLabel, QString rawText, QString outputText,
                          qint64 speechDurationMs) override;
    bool isLoggedIn() const override;

private:
    VoxleAccount &m_account;
    QNetworkAccessManager &m_session;
    Clock &m_clock;
};
