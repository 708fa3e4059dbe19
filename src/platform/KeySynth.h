#pragma once

#include <QtGlobal>

// Synthetic keyboard events for the focused application. Key codes are macOS virtual key codes and flags are
// CGEventFlags-style masks, as the hotkey tap uses; a backend maps them to its own keyboard (Command = Control).
class KeySynth
{
public:
    static constexpr quint16 keyV = 9;
    static constexpr quint64 flagShift = 0x20000;
    static constexpr quint64 flagCommand = 0x100000;

    virtual ~KeySynth() = default;
    // Posts one key event with the modifiers in flags held. False when the event could not be made or posted.
    virtual bool postKey(quint16 keyCode, quint64 flags, bool keyDown) = 0;
    // True when the window with the keyboard focus is a terminal, by what the window system tells.
    virtual bool focusedWindowIsTerminal() = 0;
};
