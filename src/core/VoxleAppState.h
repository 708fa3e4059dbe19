#pragma once

#include "base/CancelToken.h"
#include "base/VoxleTypes.h"
#include "core/OverlayState.h"
#include "core/VoxlePreferences.h"
#include "platform/MicrophoneAccess.h"

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QJsonObject>
#include <QMutex>
#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class AudioCapture;
class Clock;
class DictationCloud;
class DictationHistory;
class KeychainStore;
class StreamingSession;
class StreamingSessionFactory;
class TextInjector;
class UserDefaults;

// The services the application state drives, built by main() and passed in.
struct VoxleAppStateServices {
    Clock &clock;
    UserDefaults &defaults;
    KeychainStore &keychain;
    DictationHistory &history;
    AudioCapture &audioCapture;
    StreamingSessionFactory &sessions;
    TextInjector &textInjector;
    DictationCloud &cloud;
    MicrophoneAccess &microphone;
    std::function<bool()> inputMonitoringGranted;
    std::function<bool()> accessibilityTrusted;
    std::function<void()> restoreAuthState;
    // Asks the platform for the two permissions (the pages' request buttons); absent means nothing to ask.
    std::function<void()> requestInputMonitoring = {};
    std::function<void()> requestAccessibility = {};
};

// The one observable object of the application: the preferences, the dictation controller (status and
// overlay from hotkey action to finished text) and the finishing step. Main thread only.
class VoxleAppState : public QObject
{
    Q_OBJECT
    Q_PROPERTY(AppStatus status READ status NOTIFY statusChanged)
    Q_PROPERTY(QString statusLabel READ statusLabel NOTIFY statusChanged)
    Q_PROPERTY(QString serverLabel READ serverLabel NOTIFY labelsChanged)
    Q_PROPERTY(QString microphoneLabel READ microphoneLabel CONSTANT)
    Q_PROPERTY(QString microphonePermissionLabel READ microphonePermissionLabel NOTIFY labelsChanged)
    Q_PROPERTY(QString inputMonitoringPermissionLabel READ inputMonitoringPermissionLabel NOTIFY labelsChanged)
    Q_PROPERTY(QString accessibilityPermissionLabel READ accessibilityPermissionLabel NOTIFY labelsChanged)
    Q_PROPERTY(QString lastNetworkErrorLabel READ lastNetworkErrorLabel NOTIFY labelsChanged)
    Q_PROPERTY(QString lastStreamingAckLabel READ lastStreamingAckLabel NOTIFY labelsChanged)
    Q_PROPERTY(bool apiKeyConfigured READ apiKeyConfigured NOTIFY apiKeyConfiguredChanged)
    Q_PROPERTY(bool isPreparingStart READ isPreparingStart NOTIFY isPreparingStartChanged)

public:
    enum class AppStatus { idle, recording, processing, error };
    Q_ENUM(AppStatus)

    static QString label(AppStatus status);

    explicit VoxleAppState(VoxleAppStateServices services, QObject *parent = nullptr);
    ~VoxleAppState() override;

    // Loads the preferences, applies the retention, restores the account and refreshes the permission labels.
    void load();

    VoxlePreferences &preferences() { return m_preferences; }
    const VoxlePreferences &preferences() const { return m_preferences; }

    AppStatus status() const { return m_status; }
    QString statusLabel() const { return label(m_status); }
    const OverlayState &overlay() const { return m_overlay; }
    DictationMode activeDictationMode() const { return m_activeDictationMode; }
    QString serverLabel() const { return m_serverLabel; }
    QString microphoneLabel() const { return QStringLiteral("自动（系统默认）"); }
    QString microphonePermissionLabel() const { return m_microphonePermissionLabel; }
    QString inputMonitoringPermissionLabel() const { return m_inputMonitoringPermissionLabel; }
    QString accessibilityPermissionLabel() const { return m_accessibilityPermissionLabel; }
    // The permissions as values, as of the last refresh (the labels are their display form).
    enum class Permission { notRequested, notGranted, granted };
    MicrophoneAccess::Status microphonePermission() const { return m_microphonePermission; }
    Permission inputMonitoringPermission() const { return m_inputMonitoringPermission; }
    Permission accessibilityPermission() const { return m_accessibilityPermission; }
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
    void refreshPermissionLabels();

    // Saves (or, when blank, deletes) the DashScope API key.
    void saveDashScopeApiKey(const QString &text);

    // Which history kind the running dictation will be stored as: "record", "polish" or "translate".
    QString historyKind() const;

    // --- Permission requests of the onboarding, home and settings pages (VoxleAppStatePermissions.cpp) ---
    // Each marks the permission as asked for ("hasRequested..."), asks the platform, then refreshes the labels.
    void requestInputMonitoring();
    void requestAccessibility();
    // Asks for microphone access; true when it is authorised afterwards.
    QCoro::Task<bool> requestMicrophoneAccess();
    bool hasRequestedInputMonitoring() const;
    bool hasRequestedAccessibility() const;
    // --- end of the permission requests ---

signals:
    void statusChanged();
    void overlayChanged();
    void activeDictationModeChanged();
    void labelsChanged();
    void apiKeyConfiguredChanged();
    void isPreparingStartChanged();
    // Emitted when a finished text has been inserted at the cursor.
    void textInserted(const QString &text);

private:
    QCoro::Task<> requestStart(DictationMode mode, std::optional<bool> polishOverride);
    void startRecording(DictationMode mode, std::optional<bool> polishOverride);
    // One finishing step. It starts in the controller's slot (sessionTask); a new recording detaches it, and
    // from then on it only stores and reports its result, leaving the screen and the cursor to the new one.
    struct FinishRun {
        CancelToken token;
        bool detached = false;
    };

    QCoro::Task<> requestMicrophoneThenStart(DictationMode mode, std::optional<bool> polishOverride, CancelToken token);
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

    void cancelTasks();
    // Tears a session down without waiting for it, after the current step.
    void cancelSessionLater(std::shared_ptr<StreamingSession> session);
    void returnToIdle();
    void setStatus(AppStatus status);
    void setOverlay(OverlayState overlay);
    void setActiveDictationMode(DictationMode mode);
    void setPreparingStart(bool preparing);
    void setServerLabel(const QString &text);
    void emitDebug(const QString &location, const QString &message, const QJsonObject &data = {}) const;
    QByteArray takeProxyPcm();

    VoxleAppStateServices m_services;
    VoxlePreferences m_preferences;

    AppStatus m_status = AppStatus::idle;
    OverlayState m_overlay;
    DictationMode m_activeDictationMode = DictationMode::polish;
    QString m_serverLabel = QStringLiteral("未配置");
    QString m_microphonePermissionLabel = QStringLiteral("未检测");
    QString m_inputMonitoringPermissionLabel = QStringLiteral("未检测");
    QString m_accessibilityPermissionLabel = QStringLiteral("未检测");
    MicrophoneAccess::Status m_microphonePermission = MicrophoneAccess::Status::notDetermined;
    Permission m_inputMonitoringPermission = Permission::notRequested;
    Permission m_accessibilityPermission = Permission::notRequested;
    QString m_lastNetworkErrorLabel;
    QString m_lastStreamingAckLabel;
    bool m_apiKeyConfigured = false;

    std::shared_ptr<StreamingSession> m_streamingSession;
    std::optional<TaskHandle> m_sessionTask;
    std::optional<TaskHandle> m_proxyTimeoutTask;
    std::optional<TaskHandle> m_postProcessTask;
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
    std::optional<TaskHandle> m_prepareTask;
    std::optional<TaskHandle> m_microphonePromptTask;
    // Which recording is current; bumped (under m_proxyPcmMutex) whenever one starts.
    std::atomic<quint64> m_recordingId{0};
    std::shared_ptr<FinishRun> m_finishRun;
    std::vector<std::shared_ptr<FinishRun>> m_detachedRuns;
};
