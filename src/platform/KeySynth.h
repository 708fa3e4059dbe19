#pragma once

#include <QtGlobal>

// Synthetic keyboard events for the focused application. Key codes are macOS virtual key codes and flags are
// CGEventFlags-style masks, as the hotkey tap uses; a backend maps them to its own keyboard (Command = Control).
class KeySynth
{
public:
    static constexpr quint16 keyV = 9;
    static constexpr quint16 keyInsert = 114; // the Help/Insert position
    static constexpr quint64 flagShift = 0x20000;
    static constexpr quint64 flagCommand = 0x100000;

    // The chord the focused window pastes the clipboard with.
    enum class PasteChord {
        commandV,      // most applications
        commandShiftV, // terminals that keep Ctrl+V for the shell
        shiftInsert,   // xterm and rxvt: pastes the primary selection
    };

    virtual ~KeySynth() = default;
    // Posts one key event carrying exactly the modifiers in flags: modifiers the user still holds are let go
    // around it. False when the event could not be made or posted.
    virtual bool postKey(quint16 keyCode, quint64 flags, bool keyDown) = 0;
    // The window holding the keyboard focus, 0 when none or unknown. Callable from any thread.
    virtual quint64 focusedWindow() = 0;
    virtual PasteChord pasteChordForFocusedWindow() = 0;
    // True while the user holds a modifier key (Shift, Control, Alt, Super, AltGr; not the locks).
    virtual bool modifiersHeld() = 0;
};
