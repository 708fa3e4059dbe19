#pragma once

#include "hotkeys/HotkeyHost.h"

class VoxleAppState;

// What the hotkey interpreter reads and calls, answered by the application state.
class VoxleAppStateHotkeyHost final : public HotkeyHost
{
public:
    explicit VoxleAppStateHotkeyHost(VoxleAppState &state) : m_state(state) {}

    HotkeyScheme hotkeyScheme() const override;
    RecordingTriggerMode triggerMode() const override;
    AppStatus hotkeyStatus() const override;
    DictationMode activeDictationMode() const override;
    HotkeyAction modifierFnAction() const override;
    HotkeyAction modifierControlAction() const override;
    HotkeyAction modifierCommandAction() const override;
    std::optional<HotkeyBinding> translateHotkey() const override;
    std::optional<HotkeyBinding> polishHotkey() const override;
    std::optional<HotkeyBinding> recordHotkey() const override;
    void performHotkeyAction(HotkeyAction action) override;
    void toggleRecordingFromHotkey(DictationMode mode) override;
    void cancelRecording() override;
    void showError(const QString &message) override;

private:
    VoxleAppState &m_state;
};
