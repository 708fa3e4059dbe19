#pragma once

#include "base/OwnedTask.h"
#include "base/VoxleTypes.h"
#include "core/OverlayState.h"
#include "history/VoxleHistoryEntry.h"
#include "platform/MicrophoneAccess.h"

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QJsonObject>
#include <QMutex>
#include <QObject>
#include <atomic>
#include <list>
#include <memory>
#include <optional>

class AudioCapture;
class Clock;
class DictationCloud;
class DictationHistory;
class KeychainStore;
class StreamingSession;
class StreamingSessionFactory;
class TextInjector;
class VoxlePreferences;

// The services a dictation drives.
struct DictationControllerServices {
    Clock &clock;
    KeychainStore &keychain;
    DictationHistory &history;
    AudioCapture &audioCapture;
    StreamingSessionFactory &sessions;
    TextInjector &textInjector;
    DictationCloud &cloud;
    MicrophoneAccess &microphone;
};

// One dictation at a time, from the hotkey action to the finished text: the status and the overlay, the
// streaming session or the proxy buffer, the recording and the finishing step, and the connection labels.
// Main thread only, except for the capture sink.
class DictationController : public QObject
{
    Q_OBJECT

public:
    DictationController(DictationControllerServices services, VoxlePreferences &preferences,
                        QObject *parent = nullptr);
    ~DictationController() override;

    static QString permissionLabel(MicrophoneAccess::Status status);

    // Reads whether an API key is stored.
    void loadApiKeyState();
    // Saves (or, when blank, deletes) the DashScope API key.
    void saveDashScopeApiKey(const QString &text);

    AppStatus status() const { return m_status; }
    const OverlayState &overlay() const { return m_overlay; }
    DictationMode activeDictationMode() const { return m_activeDictationMode; }
    QString serverLabel() const { return m_serverLabel; }
    QString lastNetworkErrorLabel() const { return m_lastNetworkErrorLabel; }
    void setLastNetworkErrorLabel(const QString &text);
    QString lastStreamingAckLabel() const { return m_lastStreamingAckLabel; }
    bool apiKeyConfigured() const { return m_apiKeyConfigured; }
    bool isPreparingStart() const { return m_isPreparingStart; }
    std::optional<bool> sessionPolishOverride() const { return m_sessionPolishOverride; }
    bool pendingCommitToCursor() const { return m_pendingCommitToCursor; }
    QString latestTranscript() const { return m_latestTranscript; }
    bool hasStreamingSession() const { return m_streamingSession != nullptr; }

    // Entry points of the hotkeys, the buttons and the command line.
    void performHotkeyAction(HotkeyAction action);
    void toggleRecordingFromHotkey(DictationMode mode);
    void toggleRecording();
    void cancelRecording();
    void stopRecording();
    void showError(const QString &message);
    void setActiveMode(DictationMode mode);
    QString currentHint() const;

    // Which history kind the running dictation will be stored as.
    VoxleHistoryEntry::Kind historyKind() const;

signals:
    void statusChanged();
    void overlayChanged();
    void activeDictationModeChanged();
    void labelsChanged();
    void apiKeyConfiguredChanged();
    void isPreparingStartChanged();
    // The microphone permission was just looked at or asked for.
    void microphoneChecked();

private:
    // One finishing step. It starts in the session slot; a new recording detaches it, and from then on it only
    // stores and reports its result, leaving the screen and the cursor to the new one.
    struct FinishRun {
        CancelToken token;
        bool detached = false;
    };

    void requestStart(DictationMode mode, std::optional<bool> polishOverride);
    QCoro::Task<> prepareStart(CancelToken token, DictationMode mode, std::optional<bool> polishOverride);
    void startRecording(DictationMode mode, std::optional<bool> polishOverride);
    QCoro::Task<> requestMicrophoneThenStart(CancelToken token, DictationMode mode,
                                             std::optional<bool> polishOverride);
    QCoro::Task<> runStartSequence(CancelToken token, quint64 recordingId);
    QCoro::Task<> proxyTimeout(CancelToken token);
    QCoro::Task<> finishDictation(std::shared_ptr<StreamingSession> session, qint64 speechDurationMs,
                                  std::shared_ptr<FinishRun> run);
    QCoro::Task<> hideErrorLater(CancelToken token);

    // Callbacks carry the recording that produced them; those of an earlier recording are dropped.
    void handleLevel(double level, const QVector<double> &bars, quint64 recordingId);
    void handlePcm(const QByteArray &chunk, quint64 recordingId);
    void handlePartial(const QString &text, quint64 recordingId);
    void detachFinishing();

    // Ends the recording and the finishing step that own the screen, and the proxy time limit.
    void cancelTasks();
    // Tears a session down without waiting for it, after the current step.
    static void cancelSessionLater(std::shared_ptr<StreamingSession> session);
    void returnToIdle();
    void setStatus(AppStatus status);
    void setOverlay(OverlayState overlay);
    void setActiveDictationMode(DictationMode mode);
    void setPreparingStart(bool preparing);
    void setServerLabel(const QString &text);
    void markConnected(const QString &serverLabel);
    void emitDebug(const QString &location, const QString &message, const QJsonObject &data = {}) const;
    QByteArray takeProxyPcm();

    DictationControllerServices m_services;
    VoxlePreferences &m_preferences;

    AppStatus m_status = AppStatus::idle;
    OverlayState m_overlay;
    DictationMode m_activeDictationMode = DictationMode::polish;
    QString m_serverLabel = QStringLiteral("未配置");
    QString m_lastNetworkErrorLabel;
    QString m_lastStreamingAckLabel;
    bool m_apiKeyConfigured = false;

    std::shared_ptr<StreamingSession> m_streamingSession;
    bool m_pendingCommitToCursor = false;
    QString m_latestTranscript;
    std::optional<bool> m_sessionPolishOverride;
    bool m_isPreparingStart = false;
    std::optional<QDateTime> m_recordingStartTime;

    // Proxy audio is appended on the capture thread and read only after capture has stopped.
    QMutex m_proxyPcmMutex;
    QByteArray m_proxyPcmData;
    // Snapshot of the recording's route (proxy upload or streaming session), also read on the capture thread.
    std::atomic<bool> m_collectProxyPcm{false};
    // Context of the queued PCM hand-overs, so stopRecording can deliver the ones still in flight.
    QObject m_pcmPipe;
    // Which recording is current; bumped (under m_proxyPcmMutex) whenever one starts.
    std::atomic<quint64> m_recordingId{0};
    std::shared_ptr<FinishRun> m_finishRun;

    // The tasks, each in the slot that ends it. The session slot holds the recording's start sequence, then
    // its finishing step; finishing steps a new recording superseded run on in m_detachedRuns, which only
    // Escape ends. Every microphone prompt still up shares one slot; error displays share another.
    OwnedTask m_prepareTask;
    OwnedTask m_microphonePromptTask;
    OwnedTask m_sessionTask;
    OwnedTask m_proxyTimeoutTask;
    OwnedTask m_errorHideTask;
    std::list<OwnedTask> m_detachedRuns;
};
