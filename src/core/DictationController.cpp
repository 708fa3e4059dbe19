#include "core/DictationController.h"

#include "asr/DashScopeErrorMessage.h"
#include "asr/StreamingSession.h"
#include "audio/AudioCapture.h"
#include "audio/AudioLevelMeter.h"
#include "base/Async.h"
#include "base/Clock.h"
#include "base/Logging.h"
#include "core/DictationCloud.h"
#include "core/DictationHistory.h"
#include "core/KeychainStore.h"
#include "diagnostics/DebugEvent.h"
#include "output/TextInjector.h"
#include "core/VoxlePreferences.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace {
const QString kApiKeyAccount = QStringLiteral("dashscope_api_key");
constexpr qint64 kProxyLimitMs = 60'000;
constexpr qint64 kErrorDisplayMs = 1'600;

} // namespace

QString DictationController::permissionLabel(MicrophoneAccess::Status status)
{
    switch (status) {
    case MicrophoneAccess::Status::notDetermined:
        return QStringLiteral("未请求");
    case MicrophoneAccess::Status::restricted:
        return QStringLiteral("受限制");
    case MicrophoneAccess::Status::denied:
        return QStringLiteral("已拒绝");
    case MicrophoneAccess::Status::authorized:
        return QStringLiteral("已允许");
    }
    return QStringLiteral("未知");
}

DictationController::DictationController(DictationControllerServices services, VoxlePreferences &preferences,
                                         QObject *parent)
    : QObject(parent), m_services(services), m_preferences(preferences)
{
    connect(&m_preferences, &VoxlePreferences::audioInputGainChanged, this, [this]() {
        if (m_status == AppStatus::recording)
            m_services.audioCapture.setGain(std::clamp(m_preferences.audioInputGain(), 0.5, 6.0));
    });
}

DictationController::~DictationController()
{
    // No capture callback runs after this; the tasks end as their slots go, at their next wake-up.
    m_services.audioCapture.stop();
    if (m_streamingSession)
        m_streamingSession->cancel();
}

void DictationController::loadApiKeyState()
{
    bool configured = false;
    try {
        const auto key = m_services.keychain.read(kApiKeyAccount);
        configured = key && !key->trimmed().isEmpty();
    } catch (const KeychainError &) {
        configured = false;
    }
    m_apiKeyConfigured = configured;
    emit apiKeyConfiguredChanged();
}

// MARK: - Hotkey and button entry points

void DictationController::performHotkeyAction(HotkeyAction action)
{
    if (action == HotkeyAction::off)
        return;
    emitDebug(QStringLiteral("VoxleAppState.performHotkeyAction"), QStringLiteral("[DEBUG] performHotkeyAction"),
              {{QStringLiteral("action"), id(action)},
               {QStringLiteral("status"), label(m_status)},
               {QStringLiteral("hotkeyScheme"), id(m_preferences.hotkeyScheme())},
               {QStringLiteral("polishEnabled"), m_preferences.polishEnabled()}});

    DictationMode mode = DictationMode::polish;
    std::optional<bool> override;
    if (action == HotkeyAction::record)
        override = false;
    else if (action == HotkeyAction::polish)
        override = true;
    else
        mode = DictationMode::translate;

    if (m_status == AppStatus::recording) {
        m_sessionPolishOverride = override;
        setActiveMode(mode);
        // In the Fn scheme the action only chooses how the running recording will be finished.
        if (m_preferences.hotkeyScheme() != HotkeyScheme::fn)
            toggleRecordingFromHotkey(mode);
        return;
    }
    requestStart(mode, override);
}

void DictationController::toggleRecordingFromHotkey(DictationMode mode)
{
    emitDebug(QStringLiteral("VoxleAppState.toggleRecordingFromHotkey"),
              QStringLiteral("[DEBUG] toggleRecordingFromHotkey called"),
              {{QStringLiteral("mode"), Voxle::label(mode)},
               {QStringLiteral("status"), label(m_status)},
               {QStringLiteral("hotkeyScheme"), id(m_preferences.hotkeyScheme())}});
    if (m_status == AppStatus::recording) {
        m_pendingCommitToCursor = true;
        stopRecording();
        return;
    }
    requestStart(mode, std::nullopt);
}

void DictationController::toggleRecording()
{
    if (m_status == AppStatus::recording) {
        stopRecording();
        return;
    }
    requestStart(m_activeDictationMode, std::nullopt);
}

// MARK: - Starting

void DictationController::requestStart(DictationMode mode, std::optional<bool> polishOverride)
{
    if (m_isPreparingStart || m_status == AppStatus::recording)
        return;
    setPreparingStart(true);
    m_prepareTask.start([&](CancelToken token) { return prepareStart(token, mode, polishOverride); });
}

QCoro::Task<> DictationController::prepareStart(CancelToken token, DictationMode mode,
                                                std::optional<bool> polishOverride)
{
    const std::optional<QString> failure = co_await m_services.cloud.ensureAiCredentials(token);
    // Cancelled while preparing (Escape): the start is abandoned silently.
    if (token.isCancelled())
        co_return;
    if (failure) {
        // The dictation still finishing is not lost to this new start's error.
        detachFinishing();
        showError(*failure);
        setPreparingStart(false);
        co_return;
    }
    startRecording(mode, polishOverride);
    setPreparingStart(false);
}

void DictationController::startRecording(DictationMode mode, std::optional<bool> polishOverride)
{
    emit microphoneChecked();
    emitDebug(QStringLiteral("VoxleAppState.startRecording"), QStringLiteral("[DEBUG] startRecording entry"),
              {{QStringLiteral("mode"), Voxle::label(mode)},
               {QStringLiteral("micPermission"), permissionLabel(m_services.microphone.status())},
               {QStringLiteral("apiKeyConfigured"), m_apiKeyConfigured},
               {QStringLiteral("hotkeyScheme"), id(m_preferences.hotkeyScheme())}});

    const MicrophoneAccess::Status micStatus = m_services.microphone.status();
    if (micStatus == MicrophoneAccess::Status::denied || micStatus == MicrophoneAccess::Status::restricted) {
        emitDebug(QStringLiteral("VoxleAppState.startRecording"),
                  QStringLiteral("[DEBUG] startRecording blocked by mic permission"),
                  {{QStringLiteral("micAuth"), static_cast<int>(micStatus)}});
        detachFinishing();
        showError(QStringLiteral("麦克风权限不可用，请在「系统设置 → 隐私与安全性 → 麦克风」中允许本应用。"));
        return;
    }
    if (micStatus == MicrophoneAccess::Status::notDetermined) {
        // Every prompt still up shares one token, so Escape ends them all.
        m_microphonePromptTask.startShared(
            [&](CancelToken token) { return requestMicrophoneThenStart(token, mode, polishOverride); });
        return;
    }

    detachFinishing();
    cancelTasks();
    m_streamingSession.reset();

    m_sessionPolishOverride = polishOverride;
    setActiveDictationMode(mode);
    setStatus(AppStatus::recording);
    setOverlay(
        OverlayState::recording(0.1, QVector<double>(AudioLevelMeter::kBarCount, 0.1), std::nullopt, currentHint()));
    m_services.audioCapture.setGain(std::clamp(m_preferences.audioInputGain(), 0.5, 6.0));

    m_pendingCommitToCursor = false;
    m_latestTranscript.clear();
    quint64 recordingId = 0;
    {
        QMutexLocker lock(&m_proxyPcmMutex);
        m_proxyPcmData.clear();
        recordingId = ++m_recordingId;
    }
    m_recordingStartTime = m_services.clock.now();
    m_collectProxyPcm = m_preferences.useProxy();

    if (m_preferences.useProxy())
        m_proxyTimeoutTask.start([this](CancelToken token) { return proxyTimeout(token); });
    m_sessionTask.start([&](CancelToken token) { return runStartSequence(token, recordingId); });
}

QCoro::Task<> DictationController::requestMicrophoneThenStart(CancelToken token, DictationMode mode,
                                                              std::optional<bool> polishOverride)
{
    const bool granted = co_await m_services.microphone.requestAccess();
    // While the prompt was up the user may have cancelled, or started a recording by other means.
    if (token.isCancelled())
        co_return;
    emit microphoneChecked();
    if (m_status == AppStatus::recording)
        co_return;
    if (granted && m_services.microphone.status() == MicrophoneAccess::Status::authorized)
        startRecording(mode, polishOverride);
}

QCoro::Task<> DictationController::runStartSequence(CancelToken token, quint64 recordingId)
{
    const QString location = QStringLiteral("VoxleAppState.startRecording");
    // The sink is called on the capture thread; levels go on to the main thread, PCM is sorted there.
    AudioCaptureSink sink{[this, recordingId](double level, const QVector<double> &bars) {
                              QMetaObject::invokeMethod(
                                  this, [this, level, bars, recordingId]() { handleLevel(level, bars, recordingId); },
                                  Qt::QueuedConnection);
                          },
                          [this, recordingId](const QByteArray &chunk) { handlePcm(chunk, recordingId); }};
    bool started = true;
    QString failure;
    try {
        co_await m_services.audioCapture.start(std::move(sink));
    } catch (const CaptureError &error) {
        started = false;
        failure = error.message;
    }
    if (token.isCancelled())
        co_return;
    if (!started) {
        emitDebug(location, QStringLiteral("[DEBUG] audioCapture start failed"), {{QStringLiteral("error"), failure}});
        showError(QStringLiteral("无法访问麦克风，请在系统设置中允许。"));
        co_return;
    }
    emitDebug(location, QStringLiteral("[DEBUG] audioCapture started"),
              {{QStringLiteral("gain"), std::clamp(m_preferences.audioInputGain(), 0.5, 6.0)}});

    std::optional<QString> key;
    try {
        key = m_services.keychain.read(kApiKeyAccount);
    } catch (const KeychainError &) {
        key.reset();
    }
    const QString trimmedKey = key.value_or(QString()).trimmed();
    if (trimmedKey.isEmpty()) {
        emitDebug(location, QStringLiteral("[DEBUG] missing api key; cannot start streaming session"));
        setServerLabel(QStringLiteral("未配置（缺少 API Key）"));
        co_return;
    }
    if (m_collectProxyPcm) {
        markConnected(QStringLiteral("已连接（代理）"));
        co_return;
    }

    std::shared_ptr<StreamingSession> session = m_services.sessions.create(
        trimmedKey, m_preferences.streamingAsrModel(), 16000, languageHints(m_preferences.speechLanguage()));
    session->onPartialUpdated = [this, recordingId](const QString &text) {
        QMetaObject::invokeMethod(
            this, [this, text, recordingId]() { handlePartial(text, recordingId); }, Qt::QueuedConnection);
    };
    m_streamingSession = session;

    std::optional<StartError> startError;
    try {
        co_await session->start();
    } catch (const StartError &error) {
        startError = error;
    }
    // Stopped, cancelled or replaced meanwhile: the session now belongs to whoever took it.
    if (token.isCancelled())
        co_return;
    if (!startError) {
        markConnected(QStringLiteral("已连接（流式）"));
        co_return;
    }
    m_serverLabel = QStringLiteral("连接失败");
    m_lastNetworkErrorLabel = dashScopeErrorMessage(*startError);
    m_lastStreamingAckLabel =
        startError->kind == StartError::Kind::timeout ? QStringLiteral("启动超时：未收到 session.created") : QString();
    emit labelsChanged();
    showError(m_lastNetworkErrorLabel);
}

QCoro::Task<> DictationController::proxyTimeout(CancelToken token)
{
    const bool slept = co_await sleepFor(m_services.clock, kProxyLimitMs, token);
    if (!slept || m_status != AppStatus::recording)
        co_return;
    emitDebug(QStringLiteral("VoxleAppState.proxyTimeout"),
              QStringLiteral("[DEBUG] proxy mode reached 60s timeout, auto stopping"));
    m_pendingCommitToCursor = true;
    stopRecording();
}

// MARK: - Live updates while recording

void DictationController::handleLevel(double level, const QVector<double> &bars, quint64 recordingId)
{
    if (recordingId != m_recordingId || m_status != AppStatus::recording ||
        m_overlay.kind != OverlayState::Kind::recording)
        return;
    setOverlay(OverlayState::recording(level, bars, m_overlay.partial, currentHint()));
}

void DictationController::handlePcm(const QByteArray &chunk, quint64 recordingId)
{
    // Capture thread.
    if (m_collectProxyPcm) {
        QMutexLocker lock(&m_proxyPcmMutex);
        if (recordingId == m_recordingId)
            m_proxyPcmData.append(chunk);
        return;
    }
    // Queued calls from one thread keep their order, so chunks reach the session in capture order.
    QMetaObject::invokeMethod(
        &m_pcmPipe,
        [this, chunk, recordingId]() {
            if (!m_streamingSession || recordingId != m_recordingId)
                return;
            m_streamingSession->appendAudio(chunk);
            m_streamingSession->startSendingIfNeeded();
        },
        Qt::QueuedConnection);
}

void DictationController::handlePartial(const QString &text, quint64 recordingId)
{
    qCInfo(lcRealtimeASR).noquote() << "ASR partial:" << text;
    if (recordingId != m_recordingId || m_status != AppStatus::recording)
        return;
    const QString trimmed = text.trimmed();
    m_latestTranscript = trimmed;
    if (m_overlay.kind != OverlayState::Kind::recording)
        return;
    setOverlay(OverlayState::recording(m_overlay.level, m_overlay.bars,
                                       trimmed.isEmpty() ? std::nullopt : std::optional<QString>(trimmed),
                                       currentHint()));
}

void DictationController::setActiveMode(DictationMode mode)
{
    if (m_status != AppStatus::recording)
        return;
    setActiveDictationMode(mode);
    if (m_overlay.kind == OverlayState::Kind::recording)
        setOverlay(OverlayState::recording(m_overlay.level, m_overlay.bars, m_overlay.partial, currentHint()));
}

QString DictationController::currentHint() const
{
    const bool translate = m_activeDictationMode == DictationMode::translate;
    switch (m_preferences.hotkeyScheme()) {
    case HotkeyScheme::fn:
        if (translate)
            return QStringLiteral("按 Fn + ⇧（左）结束并翻译 · ESC 取消");
        if (!m_sessionPolishOverride)
            return QStringLiteral("按 Fn + Space 结束并粘贴；Fn 结束并润色；Fn + ⇧（左）结束并翻译 · ESC 取消");
        return *m_sessionPolishOverride ? QStringLiteral("按 Fn 结束并润色 · ESC 取消")
                                        : QStringLiteral("按 Fn + Space 结束并粘贴 · ESC 取消");
    case HotkeyScheme::modifiers:
        return translate ? QStringLiteral("再次单击相同热键结束并翻译 · ESC 取消")
                         : QStringLiteral("再次单击相同热键结束并粘贴 · ESC 取消");
    case HotkeyScheme::custom:
        if (m_preferences.triggerMode() == RecordingTriggerMode::ptt)
            return translate ? QStringLiteral("按住说话（⇧ 翻译）· 松开结束 · ESC 取消")
                             : QStringLiteral("按住说话 · 松开结束 · ESC 取消");
        return translate ? QStringLiteral("再次按下结束（⇧ 翻译）· ESC 取消")
                         : QStringLiteral("再次按下结束 · ESC 取消");
    }
    return {};
}

// MARK: - Stopping, cancelling, errors

void DictationController::stopRecording()
{
    emitDebug(QStringLiteral("VoxleAppState.stopRecording"), QStringLiteral("[DEBUG] stopRecording entry"),
              {{QStringLiteral("mode"), Voxle::label(m_activeDictationMode)},
               {QStringLiteral("pendingCommitToCursor"), m_pendingCommitToCursor}});
    setStatus(AppStatus::processing);
    setOverlay(OverlayState::processing(QStringLiteral("处理中…")));
    m_services.audioCapture.stop();
    // Chunks captured before the stop but still queued belong to this dictation: hand them over now.
    QCoreApplication::sendPostedEvents(&m_pcmPipe, QEvent::MetaCall);
    std::shared_ptr<StreamingSession> session = std::move(m_streamingSession);
    cancelTasks();

    qint64 durationMs = 0;
    if (m_recordingStartTime)
        durationMs = std::max<qint64>(0, m_recordingStartTime->msecsTo(m_services.clock.now()));
    m_recordingStartTime.reset();

    auto run = std::make_shared<FinishRun>();
    run->token = m_sessionTask.renew();
    m_finishRun = run;
    finishDictation(std::move(session), durationMs, std::move(run));
}

void DictationController::cancelRecording()
{
    emitDebug(QStringLiteral("VoxleAppState.cancelRecording"), QStringLiteral("[DEBUG] cancelRecording called"),
              {{QStringLiteral("mode"), Voxle::label(m_activeDictationMode)},
               {QStringLiteral("pendingCommitToCursor"), m_pendingCommitToCursor}});
    m_services.audioCapture.stop();
    std::shared_ptr<StreamingSession> session = std::move(m_streamingSession);
    cancelTasks();
    m_prepareTask.cancel();
    setPreparingStart(false);
    m_microphonePromptTask.cancel();
    // Escape ends superseded dictations as well.
    m_detachedRuns.clear();
    if (session)
        cancelSessionLater(std::move(session));
    m_pendingCommitToCursor = false;
    // Escape also stops an insertion still under way: nothing more is typed.
    m_services.textInjector.cancelInsertion();
    returnToIdle();
}

void DictationController::showError(const QString &message)
{
    m_services.audioCapture.stop();
    std::shared_ptr<StreamingSession> session = std::move(m_streamingSession);
    cancelTasks();
    if (session)
        cancelSessionLater(std::move(session));
    setStatus(AppStatus::error);
    setOverlay(OverlayState::error(message));
    m_sessionPolishOverride.reset();
    // Error displays do not end each other: the first to wake finds the error of its time or a later one.
    m_errorHideTask.startShared([this](CancelToken token) { return hideErrorLater(token); });
}

QCoro::Task<> DictationController::hideErrorLater(CancelToken token)
{
    const bool slept = co_await sleepFor(m_services.clock, kErrorDisplayMs, token);
    if (!slept || m_overlay.kind != OverlayState::Kind::error)
        co_return;
    returnToIdle();
}

void DictationController::saveDashScopeApiKey(const QString &text)
{
    const QString key = text.trimmed();
    try {
        if (key.isEmpty())
            m_services.keychain.remove(kApiKeyAccount);
        else
            m_services.keychain.save(key, kApiKeyAccount);
    } catch (const KeychainError &) {
        showError(QStringLiteral("保存失败"));
        return;
    }
    m_apiKeyConfigured = !key.isEmpty();
    emit apiKeyConfiguredChanged();
    setServerLabel(key.isEmpty() ? QStringLiteral("未配置") : QStringLiteral("已配置"));
}

VoxleHistoryEntry::Kind DictationController::historyKind() const
{
    if (m_activeDictationMode == DictationMode::translate)
        return VoxleHistoryEntry::Kind::translate;
    const bool polish = m_sessionPolishOverride.value_or(m_preferences.polishEnabled());
    return polish ? VoxleHistoryEntry::Kind::polish : VoxleHistoryEntry::Kind::record;
}

// MARK: - Helpers

void DictationController::cancelTasks()
{
    m_sessionTask.cancel();
    m_proxyTimeoutTask.cancel();
}

void DictationController::detachFinishing()
{
    const std::shared_ptr<FinishRun> run = std::exchange(m_finishRun, nullptr);
    if (!run || run->token.isCancelled() || !m_sessionTask.holds(run->token))
        return;
    run->detached = true;
    m_sessionTask.detach();
    m_detachedRuns.emplace_back(run->token);
}

void DictationController::cancelSessionLater(std::shared_ptr<StreamingSession> session)
{
    // Queued on the application, not on this controller, so it also runs when the controller is gone by then.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [session]() { session->cancel(); }, Qt::QueuedConnection);
}

void DictationController::returnToIdle()
{
    setStatus(AppStatus::idle);
    setOverlay(OverlayState::hidden());
    setActiveDictationMode(DictationMode::polish);
    m_sessionPolishOverride.reset();
}

void DictationController::setStatus(AppStatus status)
{
    if (m_status == status)
        return;
    m_status = status;
    emit statusChanged();
}

void DictationController::setOverlay(OverlayState overlay)
{
    if (m_overlay == overlay)
        return;
    m_overlay = std::move(overlay);
    emit overlayChanged();
}

void DictationController::setActiveDictationMode(DictationMode mode)
{
    if (m_activeDictationMode == mode)
        return;
    m_activeDictationMode = mode;
    emit activeDictationModeChanged();
}

void DictationController::setPreparingStart(bool preparing)
{
    if (m_isPreparingStart == preparing)
        return;
    m_isPreparingStart = preparing;
    emit isPreparingStartChanged();
}

void DictationController::setServerLabel(const QString &text)
{
    m_serverLabel = text;
    emit labelsChanged();
}

void DictationController::markConnected(const QString &serverLabel)
{
    // A connection that works makes the last one's failure old news.
    m_lastNetworkErrorLabel.clear();
    m_lastStreamingAckLabel.clear();
    setServerLabel(serverLabel);
}

void DictationController::setLastNetworkErrorLabel(const QString &text)
{
    m_lastNetworkErrorLabel = text;
    emit labelsChanged();
}

void DictationController::emitDebug(const QString &location, const QString &message, const QJsonObject &data) const
{
    sendDebugEvent(location, message, QStringLiteral("C"), data);
}

QByteArray DictationController::takeProxyPcm()
{
    QMutexLocker lock(&m_proxyPcmMutex);
    return std::exchange(m_proxyPcmData, QByteArray());
}
