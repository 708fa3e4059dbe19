#pragma once

#include "base/VoxleTypes.h"

#include <QString>
#include <optional>

// What the hotkey interpreter reads from, and asks of, the application state. The state implements it; tests
// give a recording stand-in.
class HotkeyHost
{
public:
    using DictationStatus = AppStatus;

    virtual ~HotkeyHost() = default;

    virtual HotkeyScheme hotkeyScheme() const = 0;
    virtual RecordingTriggerMode triggerMode() const = 0;
    virtual DictationStatus hotkeyStatus() const = 0;
    virtual DictationMode activeDictationMode() const = 0;
    virtual HotkeyAction modifierFnAction() const = 0;
    virtual HotkeyAction modifierControlAction() const = 0;
    virtual HotkeyAction modifierCommandAction() const = 0;
    virtual std::optional<HotkeyBinding> translateHotkey() const = 0;
    virtual std::optional<HotkeyBinding> polishHotkey() const = 0;
    virtual std::optional<HotkeyBinding> recordHotkey() const = 0;

    virtual void performHotkeyAction(HotkeyAction action) = 0;
    virtual void toggleRecordingFromHotkey(DictationMode mode) = 0;
    virtual void cancelRecording() = 0;
    virtual void showError(const QString &message) = 0;
};

