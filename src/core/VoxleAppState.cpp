#include "core/VoxleAppState.h"

#include "asr/DashScopeErrorMessage.h"
#include "asr/StreamingSession.h"
#include "audio/AudioCapture.h"
#include "base/Async.h"
#include "base/Clock.h"
#include "base/Logging.h"
#include "core/DictationCloud.h"
#include "core/DictationHistory.h"
#include "core/KeychainStore.h"
#include "diagnostics/DebugEvent.h"
#include "output/TextInjector.h"
#include "platform/MicrophoneAccess.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace {
const QString kApiKeyAccount = QStringLiteral("dashscope_api_key");
constexpr int kBarCount = 18;
constexpr qint64 kProxyLimitMs = 60'000;
constexpr qint64 kErrorDisplayMs = 1'600;

QString permissionLabel(MicrophoneAccess::Status status)
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

QString permissionLabel(VoxleAppState::Permission permission)
{
    switch (permission) {
    case VoxleAppState::Permission::granted:
        return QStringLiteral("已允许");
    case VoxleAppState::Permission::notGranted:
        return QStringLiteral("未允许");
    case VoxleAppState::Permission::notRequested:
        break;
    }
    return QStringLiteral("未请求");
}
} // namespace

QString VoxleAppState::label(AppStatus status)
{
    switch (status) {
    case AppStatus::idle:
        return QStringLiteral("空闲");
    case AppStatus::recording:
        return QStringLiteral("录音中");
    case AppStatus::processing:
        return QStringLiteral("处理中");
    case AppStatus::error:
        return QStringLiteral("错误");
    }
    return {};
}

VoxleAppState::VoxleAppState(VoxleAppStateServices services, QObject *parent)
    : QObject(parent), m_services(std::move(services)),
      m_preferences(
          m_services.defaults,
          VoxlePreferences::Hooks{[this](const QString &retention) {
                                      QMetaObject::invokeMethod(
                                          this, [this, retention]() { m_services.history.applyRetention(retention); },
                                          Qt::QueuedConnection);
                                  },
                                  [this](double gain) {
                                      if (m_status == AppStatus::recording)
                                          m_services.audioCapture.setGain(std::clamp(gain, 0.5, 6.0));
                                  }},
          this)
{
}

VoxleAppState::~VoxleAppState()
{
    m_services.audioCapture.stop();
    m_services.audioCapture.onLevelAndBars = nullptr;
    m_services.audioCapture.onPcm16kMono = nullptr;
    // Tasks are not cancelled here: a cancelled task wakes later and would find this object gone. The state
    // lives as long as the process, so only tests reach this.
    if (m_streamingSession)
        m_streamingSession->cancel();
}

void VoxleAppState::load()
{
    m_preferences.load();
    // The account goes first: its restore may move a key from an old settings file into the secret store.
    if (m_services.restoreAuthState)
        m_services.restoreAuthState();
    bool configured = false;
    try {
        const auto key = m_services.keychain.read(kApiKeyAccount);
        configured = key && !key->trimmed().isEmpty();
    } catch (const KeychainError &) {
        configured = false;
    }
    m_apiKeyConfigured = configured;
    emit apiKeyConfiguredChanged();
    refreshPermissionLabels();
}

// MARK: - Hotkey and button entry points

void VoxleAppState::performHotkeyAction(HotkeyAction action)
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

void VoxleAppState::toggleRecordingFromHotkey(DictationMode mode)
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

void VoxleAppState::toggleRecording()
{
    if (m_status == AppStatus::recording) {
        stopRecording();
        return;
    }
    requestStart(m_activeDictationMode, std::nullopt);
}

// MARK: - Starting

QCoro::Task<> VoxleAppState::requestStart(DictationMode mode, std::optional<bool> polishOverride)
{
    if (m_isPreparingStart || m_status == AppStatus::recording)
        co_return;
    setPreparingStart(true);
    CancelToken token;
    m_prepareTask = token;
    const std::optional<QString> failure = co_await m_services.cloud.ensureAiCredentials(token);
    if (m_prepareTask == token)
        m_prepareTask.reset();
    // Cancelled while preparing (Escape): the start is abandoned silently.
    if (token.isCancelled()) {
        setPreparingStart(false);
        co_return;
    }
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

void VoxleAppState::startRecording(DictationMode mode, std::optional<bool> polishOverride)
{
    refreshPermissionLabels();
    emitDebug(QStringLiteral("VoxleAppState.startRecording"), QStringLiteral("[DEBUG] startRecording entry"),
              {{QStringLiteral("mode"), Voxle::label(mode)},
               {QStringLiteral("micPermission"), m_microphonePermissionLabel},
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
        if (!m_microphonePromptTask)
            m_microphonePromptTask = CancelToken();
        requestMicrophoneThenStart(mode, polishOverride, *m_microphonePromptTask);
        return;
    }

    detachFinishing();
    cancelTasks();
    m_streamingSession.reset();

    m_sessionPolishOverride = polishOverride;
    setActiveDictationMode(mode);
    setStatus(AppStatus::recording);
    setOverlay(OverlayState::recording(0.1, QVector<double>(kBarCount, 0.1), std::nullopt, currentHint()));
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

    m_services.audioCapture.onLevelAndBars = [this, recordingId](double level, const QVector<double> &bars) {
        QMetaObject::invokeMethod(
            this, [this, level, bars, recordingId]() { handleLevel(level, bars, recordingId); }, Qt::QueuedConnection);
    };
    m_services.audioCapture.onPcm16kMono = [this, recordingId](const QByteArray &chunk) {
        handlePcm(chunk, recordingId);
    };

    if (m_preferences.useProxy()) {
        CancelToken timeout;
        m_proxyTimeoutTask = timeout;
        proxyTimeout(timeout);
    }
    CancelToken token;
    m_sessionTask = token;
    runStartSequence(token, recordingId);
}

QCoro::Task<> VoxleAppState::requestMicrophoneThenStart(DictationMode mode, std::optional<bool> polishOverride,
                                                        CancelToken token)
{
    const bool granted = co_await m_services.microphone.requestAccess();
    refreshPermissionLabels();
    // While the prompt was up the user may have cancelled, or started a recording by other means.
    if (token.isCancelled() || m_status == AppStatus::recording)
        co_return;
    if (granted && m_services.microphone.status() == MicrophoneAccess::Status::authorized)
        startRecording(mode, polishOverride);
}

QCoro::Task<> VoxleAppState::runStartSequence(CancelToken token, quint64 recordingId)
{
    const QString location = QStringLiteral("VoxleAppState.startRecording");
    bool started = true;
    QString failure;
    try {
        co_await m_services.audioCapture.start();
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
        setServerLabel(QStringLiteral("已连接（代理）"));
        m_lastNetworkErrorLabel.clear();
        m_lastStreamingAckLabel.clear();
        emit labelsChanged();
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
        setServerLabel(QStringLiteral("已连接（流式）"));
        m_lastNetworkErrorLabel.clear();
        m_lastStreamingAckLabel.clear();
        emit labelsChanged();
        co_return;
    }
    m_serverLabel = QStringLiteral("连接失败");
    m_lastNetworkErrorLabel = dashScopeErrorMessage(*startError);
    m_lastStreamingAckLabel =
        startError->kind == StartError::Kind::timeout ? QStringLiteral("启动超时：未收到 session.created") : QString();
    emit labelsChanged();
    showError(m_lastNetworkErrorLabel);
}

QCoro::Task<> VoxleAppState::proxyTimeout(CancelToken token)
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

void VoxleAppState::handleLevel(double level, const QVector<double> &bars, quint64 recordingId)
{
    if (recordingId != m_recordingId || m_status != AppStatus::recording ||
        m_overlay.kind != OverlayState::Kind::recording)
        return;
    setOverlay(OverlayState::recording(level, bars, m_overlay.partial, currentHint()));
}

void VoxleAppState::handlePcm(const QByteArray &chunk, quint64 recordingId)
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

void VoxleAppState::handlePartial(const QString &text, quint64 recordingId)
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

void VoxleAppState::setActiveMode(DictationMode mode)
{
    if (m_status != AppStatus::recording)
        return;
    setActiveDictationMode(mode);
    if (m_overlay.kind == OverlayState::Kind::recording)
        setOverlay(OverlayState::recording(m_overlay.level, m_overlay.bars, m_overlay.partial, currentHint()));
}

QString VoxleAppState::currentHint() const
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

void VoxleAppState::stopRecording()
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
    m_streamingSession.reset();
    cancelTasks();

    qint64 durationMs = 0;
    if (m_recordingStartTime)
        durationMs = std::max<qint64>(0, m_recordingStartTime->msecsTo(m_services.clock.now()));
    m_recordingStartTime.reset();

    auto run = std::make_shared<FinishRun>();
    m_sessionTask = run->token;
    m_finishRun = run;
    finishDictation(std::move(session), durationMs, std::move(run));
}

void VoxleAppState::cancelRecording()
{
    emitDebug(QStringLiteral("VoxleAppState.cancelRecording"), QStringLiteral("[DEBUG] cancelRecording called"),
              {{QStringLiteral("mode"), Voxle::label(m_activeDictationMode)},
               {QStringLiteral("pendingCommitToCursor"), m_pendingCommitToCursor}});
    m_services.audioCapture.stop();
    std::shared_ptr<StreamingSession> session = std::move(m_streamingSession);
    m_streamingSession.reset();
    cancelTasks();
    for (std::optional<TaskHandle> *task : {&m_prepareTask, &m_microphonePromptTask}) {
        if (*task) {
            (*task)->cancel();
            task->reset();
        }
    }
    // Escape ends superseded dictations as well.
    for (const std::shared_ptr<FinishRun> &run : std::exchange(m_detachedRuns, {}))
        run->token.cancel();
    if (session)
        cancelSessionLater(std::move(session));
    m_pendingCommitToCursor = false;
    // Escape also stops an insertion still under way: nothing more is typed.
    m_services.textInjector.cancelInsertion();
    returnToIdle();
}

void VoxleAppState::showError(const QString &message)
{
    m_services.audioCapture.stop();
    std::shared_ptr<StreamingSession> session = std::move(m_streamingSession);
    m_streamingSession.reset();
    cancelTasks();
    if (session)
        cancelSessionLater(std::move(session));
    setStatus(AppStatus::error);
    setOverlay(OverlayState::error(message));
    m_sessionPolishOverride.reset();
    hideErrorLater(CancelToken());
}

QCoro::Task<> VoxleAppState::hideErrorLater(CancelToken token)
{
    const bool slept = co_await sleepFor(m_services.clock, kErrorDisplayMs, token);
    if (!slept || m_overlay.kind != OverlayState::Kind::error)
        co_return;
    returnToIdle();
}

void VoxleAppState::refreshPermissionLabels()
{
    const auto permission = [this](bool granted, const QString &askedFlag) {
        if (granted)
            return Permission::granted;
        return m_services.defaults.boolean(askedFlag).value_or(false) ? Permission::notGranted
                                                                      : Permission::notRequested;
    };
    m_microphonePermission = m_services.microphone.status();
    m_microphonePermissionLabel = permissionLabel(m_microphonePermission);
    m_inputMonitoringPermission = permission(m_services.inputMonitoringGranted && m_services.inputMonitoringGranted(),
                                             QStringLiteral("hasRequestedInputMonitoring"));
    m_inputMonitoringPermissionLabel = permissionLabel(m_inputMonitoringPermission);
    m_accessibilityPermission = permission(m_services.accessibilityTrusted && m_services.accessibilityTrusted(),
                                           QStringLiteral("hasRequestedAccessibility"));
    m_accessibilityPermissionLabel = permissionLabel(m_accessibilityPermission);
    emit labelsChanged();
}

void VoxleAppState::saveDashScopeApiKey(const QString &text)
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

QString VoxleAppState::historyKind() const
{
    if (m_activeDictationMode == DictationMode::translate)
        return QStringLiteral("translate");
    const bool polish = m_sessionPolishOverride.value_or(m_preferences.polishEnabled());
    return polish ? QStringLiteral("polish") : QStringLiteral("record");
}

// MARK: - Helpers

void VoxleAppState::cancelTasks()
{
    for (std::optional<TaskHandle> *task : {&m_sessionTask, &m_proxyTimeoutTask, &m_postProcessTask}) {
        if (*task) {
            (*task)->cancel();
            task->reset();
        }
    }
}

void VoxleAppState::detachFinishing()
{
    const std::shared_ptr<FinishRun> run = std::exchange(m_finishRun, nullptr);
    if (!run || run->token.isCancelled() || !m_sessionTask || !(*m_sessionTask == run->token))
        return;
    run->detached = true;
    m_detachedRuns.push_back(run);
    m_sessionTask.reset();
}

void VoxleAppState::cancelSessionLater(std::shared_ptr<StreamingSession> session)
{
    QMetaObject::invokeMethod(
        this, [session]() { session->cancel(); }, Qt::QueuedConnection);
}

void VoxleAppState::returnToIdle()
{
    setStatus(AppStatus::idle);
    setOverlay(OverlayState::hidden());
    setActiveDictationMode(DictationMode::polish);
    m_sessionPolishOverride.reset();
}

void VoxleAppState::setStatus(AppStatus status)
{
    if (m_status == status)
        return;
    m_status = status;
    emit statusChanged();
}

void VoxleAppState::setOverlay(OverlayState overlay)
{
    if (m_overlay == overlay)
        return;
    m_overlay = std::move(overlay);
    emit overlayChanged();
}

void VoxleAppState::setActiveDictationMode(DictationMode mode)
{
    if (m_activeDictationMode == mode)
        return;
    m_activeDictationMode = mode;
    emit activeDictationModeChanged();
}

void VoxleAppState::setPreparingStart(bool preparing)
{
    if (m_isPreparingStart == preparing)
        return;
    m_isPreparingStart = preparing;
    emit isPreparingStartChanged();
}

void VoxleAppState::setServerLabel(const QString &text)
{
    m_serverLabel = text;
    emit labelsChanged();
}

void VoxleAppState::setLastNetworkErrorLabel(const QString &text)
{
    m_lastNetworkErrorLabel = text;
    emit labelsChanged();
}

void VoxleAppState::emitDebug(const QString &location, const QString &message, const QJsonObject &data) const
{
    sendDebugEvent(location, message, QStringLiteral("C"), data);
}

QByteArray VoxleAppState::takeProxyPcm()
{
    QMutexLocker lock(&m_proxyPcmMutex);
    return std::exchange(m_proxyPcmData, QByteArray());
}
