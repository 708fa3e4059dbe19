#include "core/VoxleCloud.h"

#include "asr/ProxyRecognition.h"
#include "core/VoxleAccount.h"

VoxleCloud::VoxleCloud(VoxleAccount &account, QNetworkAccessManager &session, Clock &clock)
    : m_account(account), m_session(session), m_clock(clock), m_rewriter(account, session, clock)
{
}

QCoro::Task<std::optional<QString>> VoxleCloud::ensureAiCredentials(CancelToken token)
{
    co_return co_await m_account.ensureAiCredentials(std::move(token));
}

QCoro::Task<DictationCloud::ProxyResult> VoxleCloud::recognizeViaProxy(QByteArray pcm, CancelToken token)
{
    if (pcm.isEmpty())
        co_return ProxyResult{};
    VoxleServerApi api(m_account.endpoints().backend, m_session, m_clock);
    const Result<QString> heard = co_await ProxyRecognition::recognizeViaProxy(
        api, pcm, m_account.deviceIdentifier(), m_account.readAuthToken(), std::move(token));
    co_return ProxyResult{heard.toOptional(), heard.error()};
}

QCoro::Task<std::optional<QString>> VoxleCloud::polishText(QString text, CancelToken token)
{
    co_return co_await m_rewriter.polishText(std::move(text), std::move(token));
}

QCoro::Task<std::optional<QString>> VoxleCloud::translateText(QString text, TranslationTargetLanguage target,
                                                              CancelToken token)
{
    co_return co_await m_rewriter.translateText(std::move(text), target, std::move(token));
}

void VoxleCloud::reportUsageEvent(QString kind, QString modeLabel, QString rawText, QString outputText,
                                  qint64 speechDurationMs)
{
    // Not awaited: the report runs on its own and only logs its failures.
    m_account.reportUsageEvent(std::move(kind), std::move(modeLabel), std::move(rawText), std::move(outputText),
                               speechDurationMs);
}

bool VoxleCloud::isLoggedIn() const
{
    return m_account.isLoggedIn();
}
