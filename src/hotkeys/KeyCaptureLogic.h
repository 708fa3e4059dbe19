#pragma once

#include "base/VoxleTypes.h"
#include "platform/KeyEventTap.h"

#include <functional>

// The key-recording rules of the hotkey capture sheet over keyboard events of the capture view: an ordinary
// key is captured on its key down with the modifiers held; a modifier alone is captured when it is released
// with nothing typed since the last modifier went down.
class KeyCaptureLogic
{
public:
    // (key code, modifiers as HotkeyBinding bits, Shift held)
    std::function<void(quint16, int, bool)> onKeyDown;
    // modifiers held, as HotkeyBinding bits
    std::function<void(int)> onFlagsChanged;

    // Feeds one event of the capture view (key up is ignored).
    void handle(const KeyTapEvent &event);
    void keyDown(quint16 keyCode, quint64 flags);
    void flagsChanged(quint16 keyCode, quint64 flags);

    static int modifiersFromFlags(quint64 flags);
    // "⌃ ⌥ ⇧ ⌘" for what is held, or "无".
    static QString modifierSymbols(int modifiers);

    quint64 lastModifierFlags() const { return m_lastModifierFlags; }
    bool keyPressOccurred() const { return m_keyPressOccurred; }

private:
    quint64 m_lastModifierFlags = 0;
    bool m_keyPressOccurred = false;
};
