#pragma once

#include "platform/KeyEventTap.h"

// Key events as the tap delivers them to the interpreters.
inline KeyTapEvent flags(quint16 key, quint64 f)
{
    return KeyTapEvent{KeyTap::flagsChanged, key, f, false};
}
inline KeyTapEvent down(quint16 key, quint64 f, bool repeat = false)
{
    return KeyTapEvent{KeyTap::keyDown, key, f, repeat};
}
