#include "core/VoxleAppState.h"

#include "core/DictationHistory.h"
#include "platform/MicrophoneAccess.h"
#include "platform/UserDefaults.h"

#include <QMetaObject>

namespace {
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

VoxleAppState::VoxleAppState(VoxleAppStateServices services, QObject *parent)
    : QObject(parent), m_services(std::move(services)), m_preferences(m_services.defaults),
      m_dictation(DictationControllerServices{m_services.clock, m_services.keychain, m_services.history,
                                              m_services.audioCapture, m_services.sessions, m_services.textInjector,
                                              m_services.cloud, m_services.microphone},
                  m_preferences)
{
    connect(&m_preferences, &VoxlePreferences::historyRetentionChanged, this, [this]() {
        QMetaObject::invokeMethod(
            this, [this, retention = m_preferences.historyRetention()]() { m_services.history.applyRetention(retention); },
            Qt::QueuedConnection);
    });
    connect(&m_dictation, &DictationController::microphoneChecked, this, &VoxleAppState::refreshPermissionLabels);
    connect(&m_dictation, &DictationController::statusChanged, this, &VoxleAppState::statusChanged);
    connect(&m_dictation, &DictationController::overlayChanged, this, &VoxleAppState::overlayChanged);
    connect(&m_dictation, &DictationController::activeDictationModeChanged, this,
            &VoxleAppState::activeDictationModeChanged);
    connect(&m_dictation, &DictationController::labelsChanged, this, &VoxleAppState::labelsChanged);
    connect(&m_dictation, &DictationController::apiKeyConfiguredChanged, this, &VoxleAppState::apiKeyConfiguredChanged);
    connect(&m_dictation, &DictationController::isPreparingStartChanged, this, &VoxleAppState::isPreparingStartChanged);
}

VoxleAppState::~VoxleAppState() = default;

void VoxleAppState::load()
{
    m_preferences.load();
    // The account goes first: its restore may move a key from an old settings file into the secret store.
    if (m_services.restoreAuthState)
        m_services.restoreAuthState();
    m_dictation.loadApiKeyState();
    refreshPermissionLabels();
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
    m_microphonePermissionLabel = DictationController::permissionLabel(m_microphonePermission);
    m_inputMonitoringPermission = permission(m_services.inputMonitoringGranted && m_services.inputMonitoringGranted(),
                                             QStringLiteral("hasRequestedInputMonitoring"));
    m_inputMonitoringPermissionLabel = permissionLabel(m_inputMonitoringPermission);
    m_accessibilityPermission = permission(m_services.accessibilityTrusted && m_services.accessibilityTrusted(),
                                           QStringLiteral("hasRequestedAccessibility"));
    m_accessibilityPermissionLabel = permissionLabel(m_accessibilityPermission);
    emit labelsChanged();
}
