#include "net/ChatCompletionClient.h"

#include "net/ReplyWait.h"
#include "net/VoxleServerApi.h"

#include "base/Async.h"
#include "base/Logging.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QPointer>
#include <QStringDecoder>

namespace {
QString nonEmptyString(const QJsonValue &v)
{
    return v.isString() ? VoxleServerApi::displayableMessage(v.toString()) : QString();
}
} // namespace

ChatCompletionClient::ChatCompletionClient(QUrl endpoint, QNetworkAccessManager &session, Clock &clock)
    : m_endpoint(std::move(endpoint)), m_session(session), m_clock(clock)
{
}

QJsonObject ChatCompletionClient::requestBody(const QList<Message> &messages, std::optional<int> maxTokens)
{
    QJsonArray list;
    for (const Message &m : messages)
        list.append(QJsonObject{{QStringLiteral("role"), m.role}, {QStringLiteral("content"), m.content}});
    QJsonObject body{
        {QStringLiteral("model"), kModel}, {QStringLiteral("messages"), list}, {QStringLiteral("stream"), false}};
    if (maxTokens)
        body.insert(QStringLiteral("max_tokens"), *maxTokens);
    return body;
}

QString ChatCompletionClient::chatErrorMessage(const QByteArray &body, int status)
{
    const QString fallback = QStringLiteral("连接失败（HTTP %1）").arg(status);
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    if (!doc.isObject())
        return fallback;
    const QJsonObject o = doc.object();
    const QJsonValue error = o.value(QLatin1String("error"));
    if (error.isObject()) {
        const QJsonObject e = error.toObject();
        if (const QString m = nonEmptyString(e.value(QLatin1String("message"))); !m.isEmpty())
            return m;
        if (const QString m = nonEmptyString(e.value(QLatin1String("msg"))); !m.isEmpty())
            return m;
    }
    if (const QString m = nonEmptyString(o.value(QLatin1String("message"))); !m.isEmpty())
        return m;
    return fallback;
}

std::optional<QString> ChatCompletionClient::contentOf(const QJsonObject &response)
{
    const QJsonValue choices = response.value(QLatin1String("choices"));
    if (!choices.isArray() || choices.toArray().isEmpty())
        return std::nullopt;
    const QJsonValue first = choices.toArray().first();
    if (!first.isObject())
        return std::nullopt;
    const QJsonValue message = first.toObject().value(QLatin1String("message"));
    if (!message.isObject())
        return std::nullopt;
    const QJsonValue content = message.toObject().value(QLatin1String("content"));
    if (!content.isString())
        return std::nullopt;
    return content.toString();
}

QCoro::Task<ChatCompletionClient::Result> ChatCompletionClient::complete(QList<Message> messages,
                                                                         std::optional<int> maxTokens,
                                                                         double timeoutSeconds, QString apiKey,
                                                                         CancelToken cancel)
{
    Result result;
    QNetworkRequest request(m_endpoint);
    // Redirects are followed only within the origin, so the API key never travels to another host.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    request.setRawHeader("Content-Type", "application/json");
    request.setRawHeader("Authorization", "Bearer " + apiKey.toUtf8());
    const QByteArray body = QJsonDocument(requestBody(messages, maxTokens)).toJson(QJsonDocument::Compact);

    // The API key is never logged.
    qCDebug(lcAppState).noquote() << "[DashScope] POST 请求地址:" << m_endpoint.toString(QUrl::FullyEncoded);
    qCDebug(lcAppState).noquote() << "[DashScope] POST 请求 Body:" << QString::fromUtf8(body);

    if (cancel.isCancelled()) {
        result.transport = VoxleTransportError(QNetworkReply::OperationCanceledError, QStringLiteral("cancelled"));
        co_return result;
    }
    QPointer<QNetworkReply> reply = m_session.post(request, body);
    const ReplyOwner owner = ownReply(reply.data());
    const ReplyEnd end = co_await awaitReply(reply, m_clock, qint64(timeoutSeconds * 1000), cancel);
    if (end == ReplyEnd::cancelled) {
        result.transport = VoxleTransportError(QNetworkReply::OperationCanceledError, QStringLiteral("cancelled"));
        co_return result;
    }
    if (end == ReplyEnd::timedOut) {
        result.transport = VoxleTransportError(QNetworkReply::TimeoutError, QString());
        co_return result;
    }
    if (end == ReplyEnd::tooLarge) {
        qCWarning(lcAppState) << "[DashScope] 响应过大，已中止";
        result.error = QStringLiteral("返回解析失败");
        co_return result;
    }

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid() && reply->error() != QNetworkReply::NoError) {
        result.transport = VoxleTransportError(reply->error(), reply->errorString());
        co_return result;
    }
    const QByteArray answer = reply->readAll();
    co_return resultOf(status.isValid() ? std::optional<int>(status.toInt()) : std::nullopt, answer);
}

ChatCompletionClient::Result ChatCompletionClient::resultOf(std::optional<int> httpStatus, const QByteArray &answer)
{
    Result result;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(answer);
    if (!decoder.hasError())
        qCDebug(lcAppState).noquote() << "[DashScope] 响应结果:" << text;
    if (!httpStatus) {
        result.error = QStringLiteral("连接失败：无响应");
        return result;
    }
    if (*httpStatus != 200) {
        result.error = chatErrorMessage(answer, *httpStatus);
        return result;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(answer, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        // Not JSON at all: reported like a failed transfer, with the parser's description.
        result.transport = VoxleTransportError(QNetworkReply::ProtocolInvalidOperationError, parseError.errorString());
        return result;
    }
    const auto content = doc.isObject() ? contentOf(doc.object()) : std::nullopt;
    if (!content) {
        result.error = QStringLiteral("返回解析失败");
        return result;
    }
    result.text = content;
    return result;
}
