#pragma once

#include "platform/KeyEventTap.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <optional>

// Turns X11 key presses and releases into the macOS-style events the hotkey interpreter reads. Key codes are
// positions on the keyboard, taken from the X key code (evdev numbering), so every layout gets one code per
// physical key, as macOS does. Modifier keys are known by what they do (their keysym), so a key remapped to
// Control acts as Control; AltGr is not Option. One chosen key, known by its key code, stands in for Fn.
// Pure bookkeeping: the caller supplies the X key code and the keysym the key has in the active group.
class X11KeyTranslator
{
public:
    // Key codes given to keys the Mac keyboard does not have: this base plus the X key code.
    static constexpr quint16 unmappedKeyCodeBase = 0x1000;

    void setFnRoleKey(FnRoleKey key) { m_roleKey = key; }
    FnRoleKey fnRoleKey() const { return m_roleKey; }
    // The Caps Lock state when observation starts (or as the server reports it later).
    void setCapsLockOn(bool on) { m_capsLockOn = on; }
    // Forgets every key held (after a pause in observation).
    void reset();

    // The event for a press or release; nothing for a Caps Lock release, which changes no flag.
    std::optional<KeyTapEvent> press(quint32 xKeyCode, quint32 keysym);
    std::optional<KeyTapEvent> release(quint32 xKeyCode, quint32 keysym);
    quint64 flags() const;
    bool isFnRoleKey(quint32 xKeyCode) const { return xKeyCode == roleKeyCode(m_roleKey); }

    // The macOS key code of a key: the Fn role, else the modifier its keysym names, else its position.
    quint16 macKeyCode(quint32 xKeyCode, quint32 keysym) const;
    // The X key codes that give a macOS key code by position (63: the role key); modifier codes give none.
    QList<quint32> xKeyCodesForMacKeyCode(quint16 macKeyCode) const;
    // The X key code of a role key on the evdev keymap.
    static quint32 roleKeyCode(FnRoleKey key);
    // Where a keysym sits on a US keyboard, for key events that carry no X key code.
    static std::optional<quint32> usKeyCodeForKeysym(quint32 keysym);
    // The third- and fifth-level choosers (AltGr and the like): modifiers without a Mac counterpart.
    static bool isLevelShift(quint32 keysym);

private:
    std::optional<KeyTapEvent> transition(quint32 xKeyCode, quint32 keysym, bool down);

    FnRoleKey m_roleKey = FnRoleKeys::defaultKey;
    bool m_capsLockOn = false;
    QHash<quint32, quint16> m_keysDown;      // X key code held -> the macOS key code it went down as
    QHash<quint32, quint16> m_heldModifiers; // X key code -> macOS modifier key code
    QSet<quint32> m_heldLevelShifts;         // X key codes of AltGr-like keys held
};
