#pragma once

#include "platform/KeyEventTap.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <optional>

// Turns X11 key presses and releases into the macOS-style events the hotkey interpreter reads: positional
// macOS virtual key codes, CGEventFlags-style modifier flags, modifier keys as flags-changed events, and one
// chosen key standing in for Fn. Pure bookkeeping: the caller supplies the X key code and the keysym at the
// key's first level (group 1, unshifted), so the capture sheet can use it on Qt key events as well.
class X11KeyTranslator
{
public:
    // Key codes given to keys the Mac keyboard does not have: this base plus the X key code.
    static constexpr quint16 unmappedKeyCodeBase = 0x1000;

    void setFnRoleKey(FnRoleKey key) { m_roleKey = key; }
    FnRoleKey fnRoleKey() const { return m_roleKey; }
    // The Caps Lock state when observation starts.
    void setCapsLockOn(bool on) { m_capsLockOn = on; }
    // Forgets every key held (after a pause in observation).
    void reset();

    // The event for a press or release; nothing for a Caps Lock release, which changes no flag.
    std::optional<KeyTapEvent> press(quint32 xKeyCode, quint32 keysym);
    std::optional<KeyTapEvent> release(quint32 xKeyCode, quint32 keysym);
    quint64 flags() const;
    bool isFnRoleKey(quint32 keysym) const;

    static std::optional<quint16> macKeyCodeForKeysym(quint32 keysym);
    // The keysyms that produce a macOS key code (the Fn-role keysyms for 63).
    QList<quint32> keysymsForMacKeyCode(quint16 macKeyCode) const;
    static QList<quint32> fnRoleKeysyms(FnRoleKey key);

private:
    quint16 macKeyCode(quint32 xKeyCode, quint32 keysym) const;
    std::optional<KeyTapEvent> transition(quint32 xKeyCode, quint32 keysym, bool down);

    FnRoleKey m_roleKey = FnRoleKeys::defaultKey;
    bool m_capsLockOn = false;
    QSet<quint32> m_keysDown;                // X key codes held
    QHash<quint32, quint16> m_heldModifiers; // X key code -> macOS modifier key code
};
