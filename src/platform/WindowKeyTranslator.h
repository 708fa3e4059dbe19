#pragma once

#include "platform/KeyEventTap.h"

#include <QtGlobal>
#include <functional>
#include <memory>
#include <optional>

// One key event as a window of the program receives it: Qt's key, and the native codes when the event has them.
struct WindowKey {
    bool down = true;
    int qtKey = 0;
    quint32 nativeScanCode = 0;
    quint32 nativeVirtualKey = 0;
};

// Turns the key events a window receives into the keyboard events the hotkey interpreter reads, the way the
// global key tap reports the same keys, so a binding recorded in a window names the key the tap later sees.
// Keeps the held keys, so one translator serves one window.
class WindowKeyTranslator
{
public:
    using Factory = std::function<std::unique_ptr<WindowKeyTranslator>(FnRoleKey)>;

    virtual ~WindowKeyTranslator() = default;
    // Nothing for a key it cannot place, or for one that changes no state (a Caps Lock release).
    virtual std::optional<KeyTapEvent> translate(const WindowKey &key) = 0;
};
