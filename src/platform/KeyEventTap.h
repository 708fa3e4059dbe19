#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <optional>

// The system-wide keyboard as the hotkey interpreter sees it: macOS virtual key codes and CGEventFlags-style
// modifier flags, whatever the platform underneath delivers.
namespace KeyTap {
// Event types.
constexpr int keyDown = 10;
constexpr int keyUp = 11;
constexpr int flagsChanged = 12;

// Key codes with a fixed meaning for the interpreter.
constexpr quint16 keyA = 0;
constexpr quint16 keySpace = 49;
constexpr quint16 keyEscape = 53;
constexpr quint16 keyRightCommand = 54;
constexpr quint16 keyCommand = 55;
constexpr quint16 keyShift = 56;
constexpr quint16 keyCapsLock = 57;
constexpr quint16 keyOption = 58;
constexpr quint16 keyControl = 59;
constexpr quint16 keyRightShift = 60;
constexpr quint16 keyRightOption = 61;
constexpr quint16 keyRightControl = 62;
constexpr quint16 keyFn = 63;

// Flag masks.
constexpr quint64 flagCapsLock = 0x10000;
constexpr quint64 flagShift = 0x20000;
constexpr quint64 flagControl = 0x40000;
constexpr quint64 flagOption = 0x80000;
constexpr quint64 flagCommand = 0x100000;
constexpr quint64 flagNumericPad = 0x200000;
constexpr quint64 flagFn = 0x800000;
// Not a Mac flag: a key that chooses the third or fifth level (AltGr) is held. It is not Option, and no
// binding matches while it is held.
constexpr quint64 flagAltGr = 0x1000000;

// Membership mask over key codes 0..63 of the modifier keys (Caps Lock is not one of them).
constexpr quint64 modifierKeyCodeMask = 0xFDC0000000000000ULL;

inline bool isModifierKeyCode(quint16 keyCode)
{
    return keyCode <= 63 && ((modifierKeyCodeMask >> keyCode) & 1U) != 0;
}
} // namespace KeyTap

// One keyboard event of the session.
struct KeyTapEvent {
    int type = KeyTap::keyDown; // KeyTap::keyDown, keyUp or flagsChanged
    quint16 keyCode = 0;        // macOS virtual key code
    quint64 flags = 0;          // modifier flags after the event
    bool autorepeat = false;

    bool operator==(const KeyTapEvent &) const = default;
};

enum class KeyTapVerdict { pass, swallow };

// A key the interpreter swallows in its present state: the key code with exactly the given HotkeyBinding
// modifier bits (command 1, option 2, control 4, shift 8) and no AltGr, or with any modifiers at all. Caps
// Lock, Num Lock and Fn never matter. Key code 63 (Fn) stands for the key that plays the Fn role. A first
// press is swallowed; its autorepeats only when `repeats` is set.
// A modifier key among them (a binding of a modifier alone) is never swallowed, as it fires on its release
// and nothing can take back a release the desktop has already seen. Instead, when it goes down with exactly
// the given modifiers held, the tap makes sure its release is no bare tap for the desktop (which would open
// a menu bar or a launcher).
struct KeyCombo {
    quint16 keyCode = 0;
    int modifiers = 0;
    bool anyModifiers = false;
    bool repeats = false;

    bool operator==(const KeyCombo &) const = default;
};

namespace KeyTap {
inline int bindingModifiers(quint64 flags)
{
    return ((flags & flagCommand) ? 1 : 0) | ((flags & flagOption) ? 2 : 0) | ((flags & flagControl) ? 4 : 0) |
           ((flags & flagShift) ? 8 : 0);
}

// Whether a tap that holds keys by grabs swallows this event, decided from the candidates alone, before
// (and whatever) the handler answers: the press of a held key, or the press of the Fn-role key.
inline bool grabSwallows(const QList<KeyCombo> &candidates, const KeyTapEvent &event)
{
    const bool rolePress = event.type == flagsChanged && event.keyCode == keyFn && (event.flags & flagFn) != 0;
    if (event.type != keyDown && !rolePress)
        return false;
    for (const KeyCombo &c : candidates) {
        if (c.keyCode != event.keyCode || (isModifierKeyCode(c.keyCode) && !rolePress))
            continue;
        const bool modifiersMatch =
            c.anyModifiers || (bindingModifiers(event.flags) == c.modifiers && (event.flags & flagAltGr) == 0);
        if (modifiersMatch && (!event.autorepeat || c.repeats))
            return true;
    }
    return false;
}
} // namespace KeyTap

// The physical key that plays the Fn role where the hardware Fn key is invisible (X11).
enum class FnRoleKey {
    menu,
    rightControl,
    rightAlt,
    rightSuper,
    capsLock,
    scrollLock,
    pause,
    f13,
    f14,
    f15,
    f16,
    f17,
    f18,
    f19,
    f20
};

namespace FnRoleKeys {
struct Entry {
    FnRoleKey key;
    const char *id;        // stable, stored in the settings
    const char16_t *label; // shown in the settings page
};

inline constexpr Entry kEntries[] = {
    {FnRoleKey::menu, "menu", u"菜单键（Menu）"},
    {FnRoleKey::rightControl, "right_ctrl", u"右 Ctrl"},
    {FnRoleKey::rightAlt, "right_alt", u"右 Alt"},
    {FnRoleKey::rightSuper, "right_super", u"右 Super"},
    {FnRoleKey::capsLock, "caps_lock", u"Caps Lock"},
    {FnRoleKey::scrollLock, "scroll_lock", u"Scroll Lock"},
    {FnRoleKey::pause, "pause", u"Pause"},
    {FnRoleKey::f13, "f13", u"F13"},
    {FnRoleKey::f14, "f14", u"F14"},
    {FnRoleKey::f15, "f15", u"F15"},
    {FnRoleKey::f16, "f16", u"F16"},
    {FnRoleKey::f17, "f17", u"F17"},
    {FnRoleKey::f18, "f18", u"F18"},
    {FnRoleKey::f19, "f19", u"F19"},
    {FnRoleKey::f20, "f20", u"F20"},
};

constexpr FnRoleKey defaultKey = FnRoleKey::menu;

inline QList<FnRoleKey> all()
{
    QList<FnRoleKey> keys;
    for (const Entry &e : kEntries)
        keys << e.key;
    return keys;
}

inline QString id(FnRoleKey key)
{
    for (const Entry &e : kEntries) {
        if (e.key == key)
            return QString::fromLatin1(e.id);
    }
    return QString::fromLatin1(kEntries[0].id);
}

inline QString label(FnRoleKey key)
{
    for (const Entry &e : kEntries) {
        if (e.key == key)
            return QString::fromUtf16(e.label);
    }
    return QString::fromUtf16(kEntries[0].label);
}

inline std::optional<FnRoleKey> parse(const QString &text)
{
    for (const Entry &e : kEntries) {
        if (text == QLatin1String(e.id))
            return e.key;
    }
    return std::nullopt;
}
} // namespace FnRoleKeys

// The one system-wide keyboard tap. Events arrive on the thread that created the tap (the main thread) and
// the handler answers pass or swallow for each.
class KeyEventTap
{
public:
    enum class Mode { activeFilter, listenOnly };
    using Handler = std::function<KeyTapVerdict(const KeyTapEvent &)>;

    virtual ~KeyEventTap() = default;

    // "Input monitoring granted": the session's keyboard can be observed at all.
    virtual bool inputMonitoringGranted() const = 0;
    // Creates the tap; false when the system refuses. Events flow after enable(). A listen-only tap delivers
    // events but ignores every swallow answer.
    virtual bool create(Mode mode, Handler handler) = 0;
    virtual void enable() = 0;
    // The keys the interpreter swallows in its present state. Backends that cannot filter every event (X11)
    // take hold of exactly these and answer their presses at once by KeyTap::grabSwallows, without waiting
    // for the handler (the keyboard stands still until a held press is answered).
    virtual void setSwallowCandidates(const QList<KeyCombo> &combos) = 0;
    // Which physical key plays Fn (key code 63, flag 0x800000).
    virtual void setFnRoleKey(FnRoleKey key) = 0;
};
