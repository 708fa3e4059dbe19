#pragma once

#include "base/CancelToken.h"
#include "base/Clock.h"
#include "net/VoxleApiError.h"

#include <QCoro/QCoroTask>
#include <QJsonObject>
#include <QList>
#include <QNetworkAccessManager>
#include <QString>
#include <QUrl>
#include <optional>

// DashScope's OpenAI-compatible chat completions, one request per call. Knows nothing of the keychain: the
// caller passes the API key. Exactly one of text, error and transport comes back; transport failures are left
// for the caller to word with the DashScope connection messages.
class ChatCompletionClient
{
public:
    struct Message {
        QString role;
        QString content;
    };
    struct Result {
        std::optional<QString> text;                  // choices[0].message.content as received
        std::optional<QString> error;                 // the message for the user
        std::optional<VoxleTransportError> transport; // a failure below HTTP, or a body that is not JSON
    };

    static inline const QString kModel = QStringLiteral("qwen-plus");

    ChatCompletionClient(QUrl endpoint, QNetworkAccessManager &session, Clock &clock);

    QCoro::Task<Result> complete(QList<Message> messages, std::optional<int> maxTokens, double timeoutSeconds,
                                 QString apiKey, CancelToken cancel);

    // {"model": "qwen-plus", "messages": [...], "stream": false[, "max_tokens": n]}.
    static QJsonObject requestBody(const QList<Message> &messages, std::optional<int> maxTokens);
    // The message of a non-200 answer: error.message, error.msg, message, else "连接失败（HTTP n）".
    static QString chatErrorMessage(const QByteArray &body, int status);
    // What an answer means: the HTTP status (none when the answer was not HTTP) and the body as received.
    static Result resultOf(std::optional<int> httpStatus, const QByteArray &answer);
    // choices[0].message.content when present as a string.
    static std::optional<QString> contentOf(const QJsonObject &response);

private:
    QUrl m_endpoint;
    QNetworkAccessManager &m_session;
    Clock &m_clock;
};
