#pragma once

#include "platform/KeySynth.h"

#include <QString>
#include <functional>

// Synthetic keys for native Wayland windows, through wtype: a short-lived virtual keyboard (the
// zwp_virtual_keyboard_v1 protocol of wlroots compositors such as sway). Where the compositor offers no such
// keyboard (GNOME, KDE) the key cannot be made and postKey says so.
//
// wtype types a whole key at once, press and release: the key-down types it, and the key-up answers for that.
// The modifiers are wtype's own keyboard's, so keys the user holds do not mix into the chord, and no window
// class is known, so the chord is the common Ctrl+V (the accessibility role still turns it into Ctrl+Shift+V
// for a terminal).
class WaylandKeySynth final : public KeySynth
{
public:
    // How long a key may take to type before it counts as not made.
    static constexpr int typeBoundMs = 1000;

    // focus: an identity of the focused element, 0 when unknown (Wayland tells clients nothing of the focus);
    // program: the wtype to run.
    explicit WaylandKeySynth(std::function<quint64()> focus, QString program = QStringLiteral("wtype"));

    bool postKey(quint16 keyCode, quint64 flags, bool keyDown) override;
    quint64 focusedWindow() override { return m_focus ? m_focus() : 0; }
    PasteChord pasteChordForFocusedWindow() override { return PasteChord::commandV; }
    bool modifiersHeld() override { return false; }

private:
    std::function<quint64()> m_focus;
    QString m_program;
    bool m_typed = false;
};
