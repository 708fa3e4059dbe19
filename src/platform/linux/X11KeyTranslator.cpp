#include "platform/linux/X11KeyTranslator.h"

#include <X11/keysym.h>
#include <utility>

namespace {
// Positional macOS key codes (ANSI layout) by the keysym a PC keyboard's key carries at its first level.
constexpr std::pair<quint32, quint16> kKeysymToMac[] = {
    {XK_a, 0},
    {XK_s, 1},
    {XK_d, 2},
    {XK_f, 3},
    {XK_h, 4},
    {XK_g, 5},
    {XK_z, 6},
    {XK_x, 7},
    {XK_c, 8},
    {XK_v, 9},
    {XK_b, 11},
    {XK_q, 12},
    {XK_w, 13},
    {XK_e, 14},
    {XK_r, 15},
    {XK_y, 16},
    {XK_t, 17},
    {XK_1, 18},
    {XK_2, 19},
    {XK_3, 20},
    {XK_4, 21},
    {XK_6, 22},
    {XK_5, 23},
    {XK_equal, 24},
    {XK_9, 25},
    {XK_7, 26},
    {XK_minus, 27},
    {XK_8, 28},
    {XK_0, 29},
    {XK_bracketright, 30},
    {XK_o, 31},
    {XK_u, 32},
    {XK_bracketleft, 33},
    {XK_i, 34},
    {XK_p, 35},
    {XK_Return, 36},
    {XK_l, 37},
    {XK_j, 38},
    {XK_apostrophe, 39},
    {XK_k, 40},
    {XK_semicolon, 41},
    {XK_backslash, 42},
    {XK_comma, 43},
    {XK_slash, 44},
    {XK_n, 45},
    {XK_m, 46},
    {XK_period, 47},
    {XK_Tab, 48},
    {XK_space, 49},
    {XK_grave, 50},
    {XK_BackSpace, 51},
    {XK_Escape, 53},
    {XK_Super_R, 54},
    {XK_Super_L, 55},
    {XK_Shift_L, 56},
    {XK_Caps_Lock, 57},
    {XK_Alt_L, 58},
    {XK_Control_L, 59},
    {XK_Shift_R, 60},
    {XK_Alt_R, 61},
    {XK_Control_R, 62},
    {XK_F17, 64},
    {XK_KP_Decimal, 65},
    {XK_KP_Multiply, 67},
    {XK_KP_Add, 69},
    {XK_KP_Divide, 75},
    {XK_KP_Enter, 76},
    {XK_KP_Subtract, 78},
    {XK_F18, 79},
    {XK_F19, 80},
    {XK_F20, 90},
    {XK_F5, 96},
    {XK_F6, 97},
    {XK_F7, 98},
    {XK_F3, 99},
    {XK_F8, 100},
    {XK_F9, 101},
    {XK_F11, 103},
    {XK_F13, 105},
    {XK_F16, 106},
    {XK_F14, 107},
    {XK_F10, 109},
    {XK_F12, 111},
    {XK_F15, 113},
    {XK_Insert, 114},
    {XK_Home, 115},
    {XK_Prior, 116},
    {XK_Delete, 117},
    {XK_F4, 118},
    {XK_End, 119},
    {XK_F2, 120},
    {XK_Next, 121},
    {XK_F1, 122},
    {XK_Left, 123},
    {XK_Right, 124},
    {XK_Down, 125},
};
// Keysyms outside the main table that name the same positions, including the shifted symbols of the US layout,
// so that a keysym looked up with Shift held (as toolkits report it) still finds its key.
constexpr std::pair<quint32, quint16> kAliases[] = {
    {XK_Up, 126},        {XK_ISO_Level3_Shift, 61},
    {XK_Meta_L, 58},     {XK_Meta_R, 61},
    {XK_Help, 114},      {XK_ISO_Left_Tab, 48},
    {XK_exclam, 18},     {XK_at, 19},
    {XK_numbersign, 20}, {XK_dollar, 21},
    {XK_percent, 23},    {XK_asciicircum, 22},
    {XK_ampersand, 26},  {XK_asterisk, 28},
    {XK_parenleft, 25},  {XK_parenright, 29},
    {XK_underscore, 27}, {XK_plus, 24},
    {XK_braceleft, 33},  {XK_braceright, 30},
    {XK_bar, 42},        {XK_colon, 41},
    {XK_quotedbl, 39},   {XK_less, 43},
    {XK_greater, 47},    {XK_question, 44},
    {XK_asciitilde, 50},
};

quint64 flagForModifier(quint16 macKeyCode)
{
    switch (macKeyCode) {
    case KeyTap::keyShift:
    case KeyTap::keyRightShift:
        return KeyTap::flagShift;
    case KeyTap::keyControl:
    case KeyTap::keyRightControl:
        return KeyTap::flagControl;
    case KeyTap::keyOption:
    case KeyTap::keyRightOption:
        return KeyTap::flagOption;
    case KeyTap::keyCommand:
    case KeyTap::keyRightCommand:
        return KeyTap::flagCommand;
    case KeyTap::keyFn:
        return KeyTap::flagFn;
    default:
        return 0;
    }
}
} // namespace

void X11KeyTranslator::reset()
{
    m_keysDown.clear();
    m_heldModifiers.clear();
}

std::optional<quint16> X11KeyTranslator::macKeyCodeForKeysym(quint32 keysym)
{
    // Letters arrive in either case depending on how the caller looked them up.
    if (keysym >= XK_A && keysym <= XK_Z)
        keysym = keysym - XK_A + XK_a;
    for (const auto &[sym, code] : kKeysymToMac) {
        if (sym == keysym)
            return code;
    }
    for (const auto &[sym, code] : kAliases) {
        if (sym == keysym)
            return code;
    }
    return std::nullopt;
}

QList<quint32> X11KeyTranslator::fnRoleKeysyms(FnRoleKey key)
{
    switch (key) {
    case FnRoleKey::menu:
        return {XK_Menu};
    case FnRoleKey::rightControl:
        return {XK_Control_R};
    case FnRoleKey::rightAlt:
        // Many layouts make the right Alt key AltGr.
        return {XK_Alt_R, XK_ISO_Level3_Shift};
    case FnRoleKey::rightSuper:
        return {XK_Super_R};
    case FnRoleKey::capsLock:
        return {XK_Caps_Lock};
    case FnRoleKey::scrollLock:
        return {XK_Scroll_Lock};
    case FnRoleKey::pause:
        return {XK_Pause};
    case FnRoleKey::f13:
        return {XK_F13};
    case FnRoleKey::f14:
        return {XK_F14};
    case FnRoleKey::f15:
        return {XK_F15};
    case FnRoleKey::f16:
        return {XK_F16};
    case FnRoleKey::f17:
        return {XK_F17};
    case FnRoleKey::f18:
        return {XK_F18};
    case FnRoleKey::f19:
        return {XK_F19};
    case FnRoleKey::f20:
        return {XK_F20};
    }
    return {XK_Menu};
}

bool X11KeyTranslator::isFnRoleKey(quint32 keysym) const
{
    return fnRoleKeysyms(m_roleKey).contains(keysym);
}

QList<quint32> X11KeyTranslator::keysymsForMacKeyCode(quint16 macKeyCode) const
{
    if (macKeyCode == KeyTap::keyFn)
        return fnRoleKeysyms(m_roleKey);
    QList<quint32> syms;
    for (const auto &[sym, code] : kKeysymToMac) {
        if (code == macKeyCode && !isFnRoleKey(sym))
            syms << sym;
    }
    for (const auto &[sym, code] : kAliases) {
        if (code == macKeyCode && !isFnRoleKey(sym))
            syms << sym;
    }
    return syms;
}

quint16 X11KeyTranslator::macKeyCode(quint32 xKeyCode, quint32 keysym) const
{
    if (isFnRoleKey(keysym))
        return KeyTap::keyFn;
    if (const std::optional<quint16> code = macKeyCodeForKeysym(keysym))
        return *code;
    return static_cast<quint16>(unmappedKeyCodeBase + (xKeyCode & 0xFFF));
}

quint64 X11KeyTranslator::flags() const
{
    quint64 f = m_capsLockOn ? KeyTap::flagCapsLock : 0;
    for (const quint16 code : m_heldModifiers)
        f |= flagForModifier(code);
    return f;
}

std::optional<KeyTapEvent> X11KeyTranslator::press(quint32 xKeyCode, quint32 keysym)
{
    return transition(xKeyCode, keysym, true);
}

std::optional<KeyTapEvent> X11KeyTranslator::release(quint32 xKeyCode, quint32 keysym)
{
    return transition(xKeyCode, keysym, false);
}

std::optional<KeyTapEvent> X11KeyTranslator::transition(quint32 xKeyCode, quint32 keysym, bool down)
{
    const quint16 code = macKeyCode(xKeyCode, keysym);
    const bool wasDown = m_keysDown.contains(xKeyCode);
    if (down)
        m_keysDown.insert(xKeyCode);
    else
        m_keysDown.remove(xKeyCode);

    if (code == KeyTap::keyCapsLock) {
        // The lock flips on each press, like the Mac's; a held or released Caps Lock changes nothing.
        if (!down || wasDown)
            return std::nullopt;
        m_capsLockOn = !m_capsLockOn;
        return KeyTapEvent{KeyTap::flagsChanged, code, flags(), false};
    }
    if (flagForModifier(code) != 0) {
        if (down && wasDown)
            return std::nullopt; // a held modifier repeats nothing on the Mac
        if (down)
            m_heldModifiers.insert(xKeyCode, code);
        else
            m_heldModifiers.remove(xKeyCode);
        return KeyTapEvent{KeyTap::flagsChanged, code, flags(), false};
    }
    return KeyTapEvent{down ? KeyTap::keyDown : KeyTap::keyUp, code, flags(), down && wasDown};
}
