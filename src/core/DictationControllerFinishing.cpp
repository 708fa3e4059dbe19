// The finishing step of a dictation: final text, optional rewriting, insertion, history, usage, idle.
#include "asr/StreamingSession.h"
#include "base/Async.h"
#include "base/Clock.h"
#include "base/Logging.h"
#include "core/DictationCloud.h"
#include "core/DictationController.h"
#include "core/DictationHistory.h"
#include "core/VoxlePreferences.h"
#include "diagnostics/DebugEvent.h"
#include "output/TextInjector.h"

namespace {
const QString kErrorPrefix = QStringLiteral("[错误: ");
constexpr qint64 kFinalTimeoutMs = 30'000;
constexpr qint64 kProcessingPauseMs = 150;
} // namespace

QCoro::Task<> DictationController::finishDictation(std::shared_ptr<StreamingSession> session,
                                                  qint64 speechDurationMs, std::shared_ptr<FinishRun> run)
{
    const CancelToken token = run->token;
    // What this dictation was, fixed at the stop: a new recording may change the controller's fields while
    // this step still waits.
    const bool viaProxy = m_collectProxyPcm;
    const DictationMode mode = m_activeDictationMode;
    const bool polish = m_sessionPolishOverride.value_or(m_preferences.polishEnabled());
    const bool commitToCursor = m_pendingCommitToCursor;
    const QString latestTranscript = m_latestTranscript;
    const VoxleHistoryEntry::Kind kind = historyKind();
    // Leaves its slot however the step ends; a cancelled step has no slot left and may have no controller.
    struct Forget {
        DictationController *controller;
        CancelToken token;
        ~Forget()
        {
            if (token.isCancelled())
                return;
            controller->m_sessionTask.finished(token);
            controller->m_detachedRuns.remove_if(
                [this](OwnedTask &slot) { return slot.holds(token) && slot.detach().has_value(); });
        }
    } forget{this, token};

    // An abandoned finishing step (cancel, error display, new recording) closes its session, so no socket
    // outlives its dictation.
    CancelToken::Registration closeOnCancel = 0;
    if (session)
        closeOnCancel = token.onCancel([session]() { cancelSessionLater(session); });
    struct Unregister {
        CancelToken token;
        CancelToken::Registration id;
        ~Unregister() { token.removeOnCancel(id); }
    } unregister{token, closeOnCancel};

    const QString location = QStringLiteral("VoxleAppState.stopRecording");

    // 1. The result text. The route is the one the recording used.
    std::optional<QString> result;
    std::optional<QString> failure;
    if (viaProxy) {
        QByteArray pcm = takeProxyPcm();
        if (!pcm.isEmpty()) {
            setOverlay(OverlayState::processing(QStringLiteral("处理中…")));
            const DictationCloud::ProxyResult proxy =
                co_await m_services.cloud.recognizeViaProxy(std::move(pcm), token);
            if (token.isCancelled())
                co_return;
            if (proxy.text)
                result = *proxy.text;
            else
                failure = proxy.failure;
        }
    } else if (session) {
        result = co_await session->finalize(kFinalTimeoutMs);
        if (token.isCancelled())
            co_return;
    }

    // 2. A server failure: the proxy route hands it over as a value; the streaming session still reports its
    // own in place of a transcript.
    if (!failure && result && result->startsWith(kErrorPrefix))
        failure = result->mid(kErrorPrefix.size(), result->size() - kErrorPrefix.size() - 1);
    if (failure) {
        const QString message = *failure;
        if (run->detached) {
            qCWarning(lcAppState).noquote() << "[Dictation] 上一段听写失败:" << message;
            co_return;
        }
        showError(message);
        m_pendingCommitToCursor = false;
        co_return;
    }

    // 3.-5. The raw text: the session's answer, else the last partial it showed.
    QString rawText = result.value_or(QString()).trimmed();
    if (rawText.isEmpty())
        rawText = latestTranscript;
    qCDebug(lcAppState).noquote() << "[Dictation] 语音听写最终结果:" << rawText;
    sendDebugEvent(location, QStringLiteral("[DEBUG] finalize result"), QStringLiteral("C"),
                   {{QStringLiteral("finalRawLen"), rawText.size()},
                    {QStringLiteral("latestTranscriptLen"), latestTranscript.size()},
                    {QStringLiteral("transcriptLen"), result.value_or(QString()).size()},
                    {QStringLiteral("activeMode"), Voxle::label(mode)},
                    {QStringLiteral("pendingCommitToCursor"), commitToCursor && !run->detached}});
    if (!rawText.isEmpty())
        qCInfo(lcAppState).noquote() << "ASR final:" << rawText;
    QString outputText = rawText;

    // 6. Rewriting.
    if (!rawText.isEmpty()) {
        if (mode == DictationMode::translate) {
            if (!run->detached)
                setOverlay(OverlayState::processing(QStringLiteral("翻译中…")));
            const std::optional<QString> translated =
                co_await m_services.cloud.translateText(rawText, m_preferences.translationTargetLanguage(), token);
            if (token.isCancelled())
                co_return;
            if (translated)
                outputText = *translated;
            else if (!run->detached)
                showError(QStringLiteral("翻译失败，已输出原文。"));
        } else if (polish) {
            if (!run->detached)
                setOverlay(OverlayState::processing(QStringLiteral("润色中…")));
            const std::optional<QString> polished = co_await m_services.cloud.polishText(rawText, token);
            if (token.isCancelled())
                co_return;
            if (polished)
                outputText = *polished;
            else if (!run->detached)
                showError(QStringLiteral("润色失败，已输出原文。"));
        }
    }

    // 7.-9. From here on the step runs to its end even when the error display above cancelled it. A
    // superseded dictation is stored and reported but not inserted: the user has moved on.
    const bool insert = commitToCursor && !run->detached;
    sendDebugEvent(location, QStringLiteral("[DEBUG] output ready"), QStringLiteral("C"),
                   {{QStringLiteral("outputLen"), outputText.trimmed().size()},
                    {QStringLiteral("pendingCommitToCursor"), insert}});
    if (m_preferences.historyRetention() != VoxleHistoryRetention::never)
        m_services.history.insert(kind, rawText, outputText, m_services.clock.now());
    if (insert && !outputText.isEmpty()) {
        sendDebugEvent(location, QStringLiteral("[DEBUG] injectAtCursor called"), QStringLiteral("C"),
                       {{QStringLiteral("len"), outputText.size()}});
        m_services.textInjector.injectAtCursor(outputText);
    }
    if (!run->detached)
        m_pendingCommitToCursor = false;

    // 10. Usage, in a task of its own, with the mode of this dictation.
    if (m_services.cloud.isLoggedIn() && !rawText.isEmpty()) {
        const qint64 duration = speechDurationMs;
        const QString modeLabel = Voxle::label(mode);
        QMetaObject::invokeMethod(
            this,
            [this, kind, modeLabel, rawText, outputText, duration]() {
                m_services.cloud.reportUsageEvent(rawValue(kind), modeLabel, rawText, outputText, duration);
            },
            Qt::QueuedConnection);
    }
    if (run->detached)
        co_return;

    // 11.-13. The result stays on screen a moment before the pill goes idle.
    if (!outputText.isEmpty()) {
        const bool slept = co_await sleepFor(m_services.clock, kProcessingPauseMs, token);
        // A recording started during the pause owns the screen now.
        if (!slept || run->detached)
            co_return;
    }
    if (m_status == AppStatus::processing)
        returnToIdle();
}
