#include "core/VoxleAppState.h"

#include "platform/MicrophoneAccess.h"
#include "platform/UserDefaults.h"

namespace {
const QString kRequestedInputMonitoring = QStringLiteral("hasRequestedInputMonitoring");
const QString kRequestedAccessibility = QStringLiteral("hasRequestedAccessibility");
} // namespace

void VoxleAppState::requestInputMonitoring()
{
    m_services.defaults.setBool(kRequestedInputMonitoring, true);
    if (m_services.requestInputMonitoring)
        m_services.requestInputMonitoring();
    refreshPermissionLabels();
}

void VoxleAppState::requestAccessibility()
{
    m_services.defaults.setBool(kRequestedAccessibility, true);
    if (m_services.requestAccessibility)
        m_services.requestAccessibility();
    refreshPermissionLabels();
}

QCoro::Task<bool> VoxleAppState::requestMicrophoneAccess()
{
    // The state lives as long as the process, so resuming on it after the system's answer is safe.
    const bool granted = co_await m_services.microphone.requestAccess();
    refreshPermissionLabels();
    co_return granted &&m_services.microphone.status() == MicrophoneAccess::Status::authorized;
}

bool VoxleAppState::hasRequestedInputMonitoring() const
{
    return m_services.defaults.boolean(kRequestedInputMonitoring).value_or(false);
}

bool VoxleAppState::hasRequestedAccessibility() const
{
    return m_services.defaults.boolean(kRequestedAccessibility).value_or(false);
}
