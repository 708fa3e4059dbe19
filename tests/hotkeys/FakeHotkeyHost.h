#pragma once

#include "hotkeys/HotkeyHost.h"

#include <QStringList>
#include <functional>

// Records every command the interpreter gives, as "action:<id>", "toggle:<mode>", "cancel", "error:<text>".
class FakeHotkeyHost final : public HotkeyHost
{
public:
    HotkeyScheme scheme = HotkeyScheme::fn;
    DictationStatus status = DictationStatus::idle;
    DictationMode mode = DictationMode::polish;
    std::optional<HotkeyBinding> translate;
    std::optional<HotkeyBinding> polish;
    std::optional<HotkeyBinding> record;
    QStringList calls;
    std::function<void()> onAction; // runs inside performHotkeyAction, say to stand for slow work

    HotkeyScheme hotkeyScheme() const override { return scheme; }
    RecordingTriggerMode triggerMode() const override { return RecordingTriggerMode::toggle; }
    DictationStatus hotkeyStatus() const override { return status; }
    DictationMode activeDictationMode() const override { return mode; }
    HotkeyAction modifierFnAction() const override { return HotkeyAction::record; }
    HotkeyAction modifierControlAction() const override { return HotkeyAction::polish; }
    HotkeyAction modifierCommandAction() const override { return HotkeyAction::translate; }
    std::optional<HotkeyBinding> translateHotkey() const override { return translate; }
    std::optional<HotkeyBinding> polishHotkey() const override { return polish; }
    std::optional<HotkeyBinding> recordHotkey() const override { return record; }

    void performHotkeyAction(HotkeyAction action) override
    {
        calls << QStringLiteral("action:") + id(action);
        if (onAction)
            onAction();
    }
    void toggleRecordingFromHotkey(DictationMode m) override
    {
        calls << QStringLiteral("toggle:") +
                     (m == DictationMode::translate ? QStringLiteral("translate") : QStringLiteral("polish"));
    }
    void cancelRecording() override { calls << QStringLiteral("cancel"); }
    void showError(const QString &message) override { calls << QStringLiteral("error:") + message; }
};
