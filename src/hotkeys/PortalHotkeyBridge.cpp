#include "hotkeys/PortalHotkeyBridge.h"

namespace {
const QString kCancel = QStringLiteral("cancel");

bool isBusy(HotkeyHost::DictationStatus status)
{
    return status == HotkeyHost::DictationStatus::recording || status == HotkeyHost::DictationStatus::processing;
}
} // namespace

QList<GlobalShortcuts::Shortcut> PortalHotkeyBridge::actions()
{
    // Suggestions only: the desktop may take them or leave the keys to the user.
    return {
        {id(HotkeyAction::record), QStringLiteral("开始/结束听写（原文）"), QStringLiteral("CTRL+ALT+r")},
        {id(HotkeyAction::polish), QStringLiteral("开始/结束听写（润色）"), QStringLiteral("CTRL+ALT+space")},
        {id(HotkeyAction::translate), QStringLiteral("开始/结束听写（翻译）"), QStringLiteral("CTRL+ALT+y")},
        {kCancel, QStringLiteral("取消听写"), QStringLiteral("CTRL+ALT+x")},
    };
}

PortalHotkeyBridge::PortalHotkeyBridge(HotkeyHost &host, GlobalShortcuts &shortcuts, QObject *parent)
    : QObject(parent), m_host(host), m_shortcuts(shortcuts)
{
    connect(&m_shortcuts, &GlobalShortcuts::activated, this, &PortalHotkeyBridge::activated);
    connect(&m_shortcuts, &GlobalShortcuts::deactivated, this, &PortalHotkeyBridge::deactivated);
}

void PortalHotkeyBridge::start()
{
    m_shortcuts.bind(actions());
}

void PortalHotkeyBridge::activated(const QString &shortcutId)
{
    if (shortcutId == kCancel) {
        // As Escape: only a dictation under way is cancelled.
        if (isBusy(m_host.hotkeyStatus()))
            m_host.cancelRecording();
        return;
    }
    const std::optional<HotkeyAction> action = parseHotkeyAction(shortcutId);
    if (!action || *action == HotkeyAction::off)
        return;
    const bool wasRecording = m_host.hotkeyStatus() == HotkeyHost::DictationStatus::recording;
    m_held = wasRecording ? QString() : shortcutId;
    // The action chooses the mode (and polish or not) of a new or running dictation.
    m_host.performHotkeyAction(*action);
    // In the Fn scheme that leaves a running recording going (Fn itself stops it); a shortcut has no Fn, so
    // its second press stops.
    if (wasRecording && m_host.hotkeyStatus() == HotkeyHost::DictationStatus::recording)
        m_host.toggleRecordingFromHotkey(m_host.activeDictationMode());
}

void PortalHotkeyBridge::deactivated(const QString &shortcutId)
{
    // Hold to talk: letting go of the key that started the recording ends it.
    if (shortcutId != m_held || m_host.triggerMode() != RecordingTriggerMode::ptt)
        return;
    if (m_host.hotkeyStatus() == HotkeyHost::DictationStatus::recording)
        m_host.toggleRecordingFromHotkey(m_host.activeDictationMode());
}
