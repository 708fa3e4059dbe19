#pragma once

#include "base/VoxleTypes.h"
#include "core/DictationController.h"
#include "core/OverlayState.h"
#include "core/VoxlePreferences.h"
#include "platform/MicrophoneAccess.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <functional>
#include <optional>

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

// The one observable object of the application: the preferences, the permissions and the dictation (whose
// controller it owns and passes on). Main thread only.
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
    using AppStatus = ::AppStatus;

    explicit VoxleAppState(VoxleAppStateServices services, QObject *parent = nullptr);
    ~VoxleAppState() override;

    // Loads the preferences, applies the retention, restores the account and refreshes the permission labels.
    void load();

    VoxlePreferences &preferences() { return m_preferences; }
    const VoxlePreferences &preferences() const { return m_preferences; }
    DictationController &dictation() { return m_dictation; }

    AppStatus status() const { return m_dictation.status(); }
    QString statusLabel() const { return label(status()); }
    const OverlayState &overlay() const { return m_dictation.overlay(); }
    DictationMode activeDictationMode() const { return m_dictation.activeDictationMode(); }
    QString serverLabel() const { return m_dictation.serverLabel(); }
    QString microphoneLabel() const { return QStringLiteral("自动（系统默认）"); }
    QString microphonePermissionLabel() const { return m_microphonePermissionLabel; }
    QString inputMonitoringPermissionLabel() const { return m_inputMonitoringPermissionLabel; }
    QString accessibilityPermissionLabel() const { return m_accessibilityPermissionLabel; }
    // The permissions as values, as of the last refresh (the labels are their display form).
    enum class Permission { notRequested, notGranted, granted };
    MicrophoneAccess::Status microphonePermission() const { return m_microphonePermission; }
    Permission inputMonitoringPermission() const { return m_inputMonitoringPermission; }
    Permission accessibilityPermission() const { return m_accessibilityPermission; }
    QString lastNetworkErrorLabel() const { return m_dictation.lastNetworkErrorLabel(); }
    void setLastNetworkErrorLabel(const QString &text) { m_dictation.setLastNetworkErrorLabel(text); }
    QString lastStreamingAckLabel() const { return m_dictation.lastStreamingAckLabel(); }
    bool apiKeyConfigured() const { return m_dictation.apiKeyConfigured(); }
    bool isPreparingStart() const { return m_dictation.isPreparingStart(); }
    std::optional<bool> sessionPolishOverride() const { return m_dictation.sessionPolishOverride(); }
    bool pendingCommitToCursor() const { return m_dictation.pendingCommitToCursor(); }
    QString latestTranscript() const { return m_dictation.latestTranscript(); }
    bool hasStreamingSession() const { return m_dictation.hasStreamingSession(); }

    // Entry points of the hotkeys, the buttons and the command line.
    void performHotkeyAction(HotkeyAction action) { m_dictation.performHotkeyAction(action); }
    void toggleRecordingFromHotkey(DictationMode mode) { m_dictation.toggleRecordingFromHotkey(mode); }
    void toggleRecording() { m_dictation.toggleRecording(); }
    void cancelRecording() { m_dictation.cancelRecording(); }
    void stopRecording() { m_dictation.stopRecording(); }
    void showError(const QString &message) { m_dictation.showError(message); }
    void setActiveMode(DictationMode mode) { m_dictation.setActiveMode(mode); }
    QString currentHint() const { return m_dictation.currentHint(); }
    void refreshPermissionLabels();

    // Saves (or, when blank, deletes) the DashScope API key.
    void saveDashScopeApiKey(const QString &text) { m_dictation.saveDashScopeApiKey(text); }

    // Which history kind the running dictation will be stored as.
    VoxleHistoryEntry::Kind historyKind() const { return m_dictation.historyKind(); }

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

private:
    VoxleAppStateServices m_services;
    VoxlePreferences m_preferences;
    DictationController m_dictation;

    QString m_microphonePermissionLabel = QStringLiteral("未检测");
    QString m_inputMonitoringPermissionLabel = QStringLiteral("未检测");
    QString m_accessibilityPermissionLabel = QStringLiteral("未检测");
    MicrophoneAccess::Status m_microphonePermission = MicrophoneAccess::Status::notDetermined;
    Permission m_inputMonitoringPermission = Permission::notRequested;
    Permission m_accessibilityPermission = Permission::notRequested;
};
