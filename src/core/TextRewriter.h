#pragma once

#include "base/CancelToken.h"
#include "base/Result.h"
#include "base/VoxleTypes.h"

#include <QCoro/QCoroTask>
#include <QJsonObject>
#include <QObject>
#include <optional>

class Clock;
class QNetworkAccessManager;
class VoxleAccount;

// Polishing and translation by either route: through the backend when the proxy setting is on, else straight
// to DashScope's chat completions with the stored key. The account supplies the endpoints, the device id,
// the session token and the key. A failure is published as the last network error (never the user's own
// Escape) and the call gives nothing. Main thread only.
class TextRewriter : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString lastNetworkErrorLabel READ lastNetworkErrorLabel NOTIFY lastNetworkErrorLabelChanged)

public:
    TextRewriter(VoxleAccount &account, QNetworkAccessManager &session, Clock &clock, QObject *parent = nullptr);

    QString lastNetworkErrorLabel() const { return m_lastNetworkErrorLabel; }
    void setLastNetworkErrorLabel(const QString &text);

    // The rewritten text, trimmed; nothing for blank input, on failure or when cancelled.
    QCoro::Task<std::optional<QString>> polishText(QString text, CancelToken cancel = {});
    QCoro::Task<std::optional<QString>> translateText(QString text, TranslationTargetLanguage target,
                                                      CancelToken cancel = {});

    struct ChatMessage {
        QString role;
        QString content;
    };
    // The answer's text as received, or the message for the user ("未配置 API Key" without a key).
    QCoro::Task<Result<QString>> chatCompletion(QList<ChatMessage> messages, std::optional<int> maxTokens,
                                                double timeoutSeconds, CancelToken cancel = {});

signals:
    void lastNetworkErrorLabelChanged();
    // Every published error (also an unchanged one, and the clearing empty text), for the application state.
    void networkErrorReported(const QString &text);

private:
    QCoro::Task<std::optional<QString>> postText(QString path, QJsonObject body, QString logPrefix, CancelToken cancel);
    QCoro::Task<std::optional<QString>> chatRewrite(QString systemPrompt, QString input, QString logPrefix,
                                                    CancelToken cancel);

    VoxleAccount &m_account;
    QNetworkAccessManager &m_session;
    Clock &m_clock;
    QString m_lastNetworkErrorLabel;
};
