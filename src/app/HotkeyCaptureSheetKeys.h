#pragma once

#include <QtGlobal>
#include <optional>

class QKeyEvent;

// Which physical key a Qt key event is, in the terms the X11 key translator reads: the X key code and the
// keysym at the key's first level. Under X11 both come from the event's native data (so a binding recorded
// here names the same key the global tap later sees); elsewhere, or for synthesised events without native
// data, the keysym is derived from the Qt key and the key code is where a US keyboard has it.
namespace HotkeyCaptureSheetKeys {
struct PhysicalKey {
    quint32 xKeyCode = 0;
    quint32 keysym = 0;
};

std::optional<PhysicalKey> physicalKey(const QKeyEvent &event);
// The keysym a US keyboard's key carries unshifted for a Qt key, or 0.
quint32 keysymForQtKey(int qtKey);
} // namespace HotkeyCaptureSheetKeys
