#include "core/VoxleAppStateHotkeyHost.h"

#include "core/VoxleAppState.h"

HotkeyScheme VoxleAppStateHotkeyHost::hotkeyScheme() const
{
    return m_state.preferences().hotkeyScheme();
}
RecordingTriggerMode VoxleAppStateHotkeyHost::triggerMode() const
{
    return m_state.preferences().triggerMode();
}

AppStatus VoxleAppStateHotkeyHost::hotkeyStatus() const
{
    return m_state.status();
}

DictationMode VoxleAppStateHotkeyHost::activeDictationMode() const
{
    return m_state.activeDictationMode();
}
HotkeyAction VoxleAppStateHotkeyHost::modifierFnAction() const
{
    return m_state.preferences().modifierFnAction();
}
HotkeyAction VoxleAppStateHotkeyHost::modifierControlAction() const
{
    return m_state.preferences().modifierControlAction();
}
HotkeyAction VoxleAppStateHotkeyHost::modifierCommandAction() const
{
    return m_state.preferences().modifierCommandAction();
}
std::optional<HotkeyBinding> VoxleAppStateHotkeyHost::translateHotkey() const
{
    return m_state.preferences().translateHotkey();
}
std::optional<HotkeyBinding> VoxleAppStateHotkeyHost::polishHotkey() const
{
    return m_state.preferences().polishHotkey();
}
std::optional<HotkeyBinding> VoxleAppStateHotkeyHost::recordHotkey() const
{
    return m_state.preferences().recordHotkey();
}
void VoxleAppStateHotkeyHost::performHotkeyAction(HotkeyAction action)
{
    m_state.performHotkeyAction(action);
}
void VoxleAppStateHotkeyHost::toggleRecordingFromHotkey(DictationMode mode)
{
    m_state.toggleRecordingFromHotkey(mode);
}
void VoxleAppStateHotkeyHost::cancelRecording()
{
    m_state.cancelRecording();
}
void VoxleAppStateHotkeyHost::showError(const QString &message)
{
    m_state.showError(message);
}
