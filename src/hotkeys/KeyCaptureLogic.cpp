#include "hotkeys/KeyCaptureLogic.h"

#include <QStringList>

namespace {
// Fn, numeric pad, Command, Option, Control, Shift; Caps Lock stays outside.
constexpr quint64 kCaptureMask = 0xBE0000;
} // namespace

void KeyCaptureLogic::handle(const KeyTapEvent &event)
{
    if (event.type == KeyTap::keyDown)
        keyDown(event.keyCode, event.flags);
    else if (event.type == KeyTap::flagsChanged)
        flagsChanged(event.keyCode, event.flags);
}

void KeyCaptureLogic::keyDown(quint16 keyCode, quint64 flags)
{
    m_keyPressOccurred = true;
    if (onKeyDown)
        onKeyDown(keyCode, modifiersFromFlags(flags), (flags & KeyTap::flagShift) != 0);
}

void KeyCaptureLogic::flagsChanged(quint16 keyCode, quint64 flags)
{
    const quint64 cur = flags & kCaptureMask;
    const quint64 prev = m_lastModifierFlags & kCaptureMask;
    if ((prev & flags & kCaptureMask) != cur) {
        m_keyPressOccurred = false;
    } else if (cur != prev && !m_keyPressOccurred) {
        // A modifier released alone: the released key itself is the binding, with what is still held.
        if (onKeyDown)
            onKeyDown(keyCode, modifiersFromFlags(flags), (flags & KeyTap::flagShift) != 0);
    }
    m_lastModifierFlags = flags;
    if (onFlagsChanged)
        onFlagsChanged(modifiersFromFlags(flags));
}

int KeyCaptureLogic::modifiersFromFlags(quint64 flags)
{
    int m = 0;
    if (flags & KeyTap::flagCommand)
        m |= HotkeyBinding::command;
    if (flags & KeyTap::flagOption)
        m |= HotkeyBinding::option;
    if (flags & KeyTap::flagControl)
        m |= HotkeyBinding::control;
    if (flags & KeyTap::flagShift)
        m |= HotkeyBinding::shift;
    return m;
}

QString KeyCaptureLogic::modifierSymbols(int modifiers)
{
    QStringList parts;
    if (modifiers & HotkeyBinding::control)
        parts << QStringLiteral("⌃");
    if (modifiers & HotkeyBinding::option)
        parts << QStringLiteral("⌥");
    if (modifiers & HotkeyBinding::shift)
        parts << QStringLiteral("⇧");
    if (modifiers & HotkeyBinding::command)
        parts << QStringLiteral("⌘");
    return parts.isEmpty() ? QStringLiteral("无") : parts.join(QLatin1Char(' '));
}
