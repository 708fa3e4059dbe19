#pragma once

#include "core/DictationCloud.h"
#include "core/TextRewriter.h"

class Clock;
class QNetworkAccessManager;
class VoxleAccount;

// The controller's view of the cloud: the account's credential and usage operations, the rewriting service
// it owns (polish, translation), and proxy recognition against the same backend.
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

    TextRewriter &rewriter() { return m_rewriter; }

private:
    VoxleAccount &m_account;
    QNetworkAccessManager &m_session;
    Clock &m_clock;
    TextRewriter m_rewriter;
};
