#pragma once

#include "platform/KeySynth.h"

#include <QString>
#include <functional>

class RemoteDesktopKeyboard;

// Synthetic keys for native Wayland windows: through a running RemoteDesktop portal session (GNOME, KDE), else
// through wtype, a short-lived virtual keyboard (the zwp_virtual_keyboard_v1 protocol of wlroots compositors
// such as sway). Where neither works postKey says so; where the portal offers a keyboard but no session runs
// yet, that key is lost and a session is started, asking the user, for the keys after it.
//
// wtype types a whole key at once, press and release: the key-down types it, and the key-up answers for that.
// Its modifiers are its own keyboard's, so keys the user holds do not mix into the chord. No window class is
// known, so the chord is the common Ctrl+V (the accessibility role still turns it into Ctrl+Shift+V for a
// terminal).
class WaylandKeySynth final : public KeySynth
{
public:
    // How long a key may take to type before it counts as not made.
    static constexpr int typeBoundMs = 1000;

    // focus: an identity of the focused element, 0 when unknown (Wayland tells clients nothing of the focus);
    // program: the wtype to run.
    // portal: the RemoteDesktop keyboard to use, none when null.
    explicit WaylandKeySynth(std::function<quint64()> focus, QString program = QStringLiteral("wtype"),
                             RemoteDesktopKeyboard *portal = nullptr);

    bool postKey(quint16 keyCode, quint64 flags, bool keyDown) override;
    quint64 focusedWindow() override { return m_focus ? m_focus() : 0; }
    PasteChord pasteChordForFocusedWindow() override { return PasteChord::commandV; }
    bool modifiersHeld() override { return false; }

private:
    bool type(const QString &key, const QStringList &modifiers);
    bool sendThroughPortal(quint16 keyCode, quint64 flags, bool keyDown);

    std::function<quint64()> m_focus;
    QString m_program;
    RemoteDesktopKeyboard *m_portal;
    bool m_typed = false;
    // Cleared once wtype could not type: the compositor has no virtual keyboard for it.
    bool m_wtypeWorks = true;
};
