#include "core/TextRewriter.h"

#include "asr/DashScopeErrorMessage.h"
#include "base/Logging.h"
#include "core/VoxleAccount.h"
#include "net/ChatCompletionClient.h"
#include "net/ChatPrompts.h"
#include "net/Settle.h"

namespace {
QCoro::Task<VoxleTextResponse> postForText(VoxleServerApi api, QString path, QJsonObject body,
                                           std::optional<QString> token, VoxleServerApi::Headers headers,
                                           CancelToken cancel)
{
    const VoxleServerApi::RawResponse raw = co_await api.postRaw(path, body, token, headers, cancel);
    co_return VoxleServerApi::decodeResponse<VoxleTextResponse>(raw);
}
} // namespace

TextRewriter::TextRewriter(VoxleAccount &account, QNetworkAccessManager &session, Clock &clock, QObject *parent)
    : QObject(parent), m_account(account), m_session(session), m_clock(clock)
{
}

void TextRewriter::setLastNetworkErrorLabel(const QString &text)
{
    emit networkErrorReported(text);
    if (m_lastNetworkErrorLabel == text)
        return;
    m_lastNetworkErrorLabel = text;
    emit lastNetworkErrorLabelChanged();
}

QCoro::Task<std::optional<QString>> TextRewriter::polishText(QString text, CancelToken cancel)
{
    const QString input = text.trimmed();
    if (input.isEmpty())
        co_return std::nullopt;
    if (m_account.useProxy()) {
        const VoxlePolishRequest request{input, QStringLiteral("NotesOrEmail")};
        co_return co_await postText(QStringLiteral("/api/text/polish"), request.toJson(),
                                    QStringLiteral("Polish (Proxy) final:"), std::move(cancel));
    }
    co_return co_await chatRewrite(ChatPrompts::polishSystemPrompt(), input, QStringLiteral("Polish final:"),
                                   std::move(cancel));
}

QCoro::Task<std::optional<QString>> TextRewriter::translateText(QString text, TranslationTargetLanguage target,
                                                                CancelToken cancel)
{
    const QString input = text.trimmed();
    if (input.isEmpty())
        co_return std::nullopt;
    const QString language = ChatPrompts::translationLanguageName(target);
    if (m_account.useProxy()) {
        const VoxleTranslateRequest request{input, language};
        co_return co_await postText(QStringLiteral("/api/text/translate"), request.toJson(),
                                    QStringLiteral("Translate (Proxy) final:"), std::move(cancel));
    }
    co_return co_await chatRewrite(ChatPrompts::translationSystemPrompt(language), input,
                                   QStringLiteral("Translate final:"), std::move(cancel));
}

QCoro::Task<std::optional<QString>> TextRewriter::postText(QString path, QJsonObject body, QString logPrefix,
                                                           CancelToken cancel)
{
    VoxleServerApi api(m_account.endpoints().backend, m_session, m_clock);
    const VoxleServerApi::Headers headers{{QStringLiteral("X-Device-Id"), m_account.deviceIdentifier()}};
    const Result<VoxleTextResponse> answer = co_await settle(
        postForText(std::move(api), std::move(path), std::move(body), m_account.readAuthToken(), headers, cancel));
    if (!answer) {
        // The user's own Escape is not a network failure.
        if (!cancel.isCancelled())
            setLastNetworkErrorLabel(answer.error());
        co_return std::nullopt;
    }
    const QString output = answer->text.trimmed();
    if (output.isEmpty())
        co_return std::nullopt;
    qCInfo(lcAppState).noquote() << logPrefix << output;
    co_return output;
}

QCoro::Task<std::optional<QString>> TextRewriter::chatRewrite(QString systemPrompt, QString input, QString logPrefix,
                                                              CancelToken cancel)
{
    QList<ChatMessage> messages{{QStringLiteral("system"), systemPrompt}, {QStringLiteral("user"), input}};
    const Result<QString> answer = co_await chatCompletion(std::move(messages), 800, 30.0, cancel);
    // The user's own Escape is not a network failure.
    if (cancel.isCancelled())
        co_return std::nullopt;
    setLastNetworkErrorLabel(answer.error());
    const QString output = answer.toOptional().value_or(QString()).trimmed();
    if (output.isEmpty())
        co_return std::nullopt;
    qCInfo(lcAppState).noquote() << logPrefix << output;
    co_return output;
}

QCoro::Task<Result<QString>> TextRewriter::chatCompletion(QList<ChatMessage> messages, std::optional<int> maxTokens,
                                                          double timeoutSeconds, CancelToken cancel)
{
    const std::optional<QString> key = m_account.storedApiKey();
    if (!key)
        co_return Result<QString>::failure(QStringLiteral("未配置 API Key"));
    QList<ChatCompletionClient::Message> wire;
    for (const ChatMessage &m : messages)
        wire.append({m.role, m.content});
    ChatCompletionClient client(m_account.endpoints().chatCompletions, m_session, m_clock);
    const ChatCompletionClient::Result result =
        co_await client.complete(std::move(wire), maxTokens, timeoutSeconds, *key, std::move(cancel));
    if (result.transport)
        co_return Result<QString>::failure(
            dashScopeErrorMessage(result.transport->code, result.transport->description));
    if (result.error)
        co_return Result<QString>::failure(*result.error);
    co_return Result<QString>(result.text.value_or(QString()));
}
