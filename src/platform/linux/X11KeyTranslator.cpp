#include "platform/linux/X11KeyTranslator.h"

#include <X11/keysym.h>
#include <utility>

namespace {
struct Position {
    quint32 xKeyCode; // evdev numbering
    quint16 mac;      // ANSI macOS key code at that place
    quint32 usKeysym; // what a US keyboard prints there, for events without a key code
};

// The keys of a PC keyboard by place. Modifier keys are absent: they are known by their keysym.
constexpr Position kPositions[] = {
    {9, 53, XK_Escape},
    {10, 18, XK_1},
    {11, 19, XK_2},
    {12, 20, XK_3},
    {13, 21, XK_4},
    {14, 23, XK_5},
    {15, 22, XK_6},
    {16, 26, XK_7},
    {17, 28, XK_8},
    {18, 25, XK_9},
    {19, 29, XK_0},
    {20, 27, XK_minus},
    {21, 24, XK_equal},
    {22, 51, XK_BackSpace},
    {23, 48, XK_Tab},
    {24, 12, XK_q},
    {25, 13, XK_w},
    {26, 14, XK_e},
    {27, 15, XK_r},
    {28, 17, XK_t},
    {29, 16, XK_y},
    {30, 32, XK_u},
    {31, 34, XK_i},
    {32, 31, XK_o},
    {33, 35, XK_p},
    {34, 33, XK_bracketleft},
    {35, 30, XK_bracketright},
    {36, 36, XK_Return},
    {38, 0, XK_a},
    {39, 1, XK_s},
    {40, 2, XK_d},
    {41, 3, XK_f},
    {42, 5, XK_g},
    {43, 4, XK_h},
    {44, 38, XK_j},
    {45, 40, XK_k},
    {46, 37, XK_l},
    {47, 41, XK_semicolon},
    {48, 39, XK_apostrophe},
    {49, 50, XK_grave},
    {51, 42, XK_backslash},
    {52, 6, XK_z},
    {53, 7, XK_x},
    {54, 8, XK_c},
    {55, 9, XK_v},
    {56, 11, XK_b},
    {57, 45, XK_n},
    {58, 46, XK_m},
    {59, 43, XK_comma},
    {60, 47, XK_period},
    {61, 44, XK_slash},
    {63, 67, XK_KP_Multiply},
    {65, 49, XK_space},
    {67, 122, XK_F1},
    {68, 120, XK_F2},
    {69, 99, XK_F3},
    {70, 118, XK_F4},
    {71, 96, XK_F5},
    {72, 97, XK_F6},
    {73, 98, XK_F7},
    {74, 100, XK_F8},
    {75, 101, XK_F9},
    {76, 109, XK_F10},
    {82, 78, XK_KP_Subtract},
    {86, 69, XK_KP_Add},
    {94, 10, 0},
    {95, 103, XK_F11},
    {96, 111, XK_F12},
    {104, 76, XK_KP_Enter},
    {106, 75, XK_KP_Divide},
    {110, 115, XK_Home},
    {111, 126, XK_Up},
    {112, 116, XK_Prior},
    {113, 123, XK_Left},
    {114, 124, XK_Right},
    {115, 119, XK_End},
    {116, 125, XK_Down},
    {117, 121, XK_Next},
    {118, 114, XK_Insert},
    {119, 117, XK_Delete},
    {129, 65, XK_KP_Decimal},
};

// Modifier keysyms and the Mac modifier key they act as, with the place a US keyboard has them.
struct Modifier {
    quint32 keysym;
    quint16 mac;
    quint32 usKeyCode;
};
constexpr Modifier kModifiers[] = {
    {XK_Shift_L, 56, 50},  {XK_Shift_R, 60, 62},  {XK_Control_L, 59, 37}, {XK_Control_R, 62, 105},
    {XK_Alt_L, 58, 64},    {XK_Meta_L, 58, 64},   {XK_Alt_R, 61, 108},    {XK_Meta_R, 61, 108},
    {XK_Super_L, 55, 133}, {XK_Super_R, 54, 134}, {XK_Caps_Lock, 57, 66},
};

// Shifted symbols of the US layout (so a key reported by its shifted keysym is still found) and keys the Mac
// lacks, by their place on a US keyboard.
constexpr std::pair<quint32, quint32> kOtherUs[] = {
    {XK_exclam, 10},
    {XK_at, 11},
    {XK_numbersign, 12},
    {XK_dollar, 13},
    {XK_percent, 14},
    {XK_asciicircum, 15},
    {XK_ampersand, 16},
    {XK_asterisk, 17},
    {XK_parenleft, 18},
    {XK_parenright, 19},
    {XK_underscore, 20},
    {XK_plus, 21},
    {XK_braceleft, 34},
    {XK_braceright, 35},
    {XK_colon, 47},
    {XK_quotedbl, 48},
    {XK_asciitilde, 49},
    {XK_bar, 51},
    {XK_less, 59},
    {XK_greater, 60},
    {XK_question, 61},
    {XK_ISO_Left_Tab, 23},
    {XK_ISO_Level3_Shift, 108},
    {XK_Num_Lock, 77},
    {XK_Help, 146},
    {XK_Menu, 135},
    {XK_Scroll_Lock, 78},
    {XK_Pause, 127},
};

const Modifier *modifierFor(quint32 keysym)
{
    for (const Modifier &m : kModifiers) {
        if (m.keysym == keysym)
            return &m;
    }
    return nullptr;
}

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
    m_heldLevelShifts.clear();
}

quint32 X11KeyTranslator::roleKeyCode(FnRoleKey key)
{
    switch (key) {
    case FnRoleKey::menu:
        return 135;
    case FnRoleKey::rightControl:
        return 105;
    case FnRoleKey::rightAlt:
        return 108;
    case FnRoleKey::rightSuper:
        return 134;
    case FnRoleKey::capsLock:
        return 66;
    case FnRoleKey::scrollLock:
        return 78;
    case FnRoleKey::pause:
        return 127;
    case FnRoleKey::f13:
    case FnRoleKey::f14:
    case FnRoleKey::f15:
    case FnRoleKey::f16:
    case FnRoleKey::f17:
    case FnRoleKey::f18:
    case FnRoleKey::f19:
    case FnRoleKey::f20:
        // Stock keymaps give these places XF86Tools, XF86Launch5..9 and XF86AudioMicMute, not F13..F20.
        return 191 + quint32(int(key) - int(FnRoleKey::f13));
    }
    return 135;
}

bool X11KeyTranslator::isLevelShift(quint32 keysym)
{
    return keysym == XK_ISO_Level3_Shift || keysym == XK_Mode_switch || keysym == XK_ISO_Level5_Shift ||
           keysym == XK_ISO_Level3_Latch || keysym == XK_ISO_Level3_Lock || keysym == XK_ISO_Level5_Lock;
}

std::optional<quint32> X11KeyTranslator::usKeyCodeForKeysym(quint32 keysym)
{
    if (keysym >= XK_A && keysym <= XK_Z)
        keysym = keysym - XK_A + XK_a;
    if (keysym >= XK_F13 && keysym <= XK_F20)
        return 191 + (keysym - XK_F13);
    for (const Position &p : kPositions) {
        if (p.usKeysym == keysym)
            return p.xKeyCode;
    }
    if (const Modifier *m = modifierFor(keysym))
        return m->usKeyCode;
    for (const auto &[sym, code] : kOtherUs) {
        if (sym == keysym)
            return code;
    }
    return std::nullopt;
}

quint16 X11KeyTranslator::macKeyCode(quint32 xKeyCode, quint32 keysym) const
{
    if (isFnRoleKey(xKeyCode))
        return KeyTap::keyFn;
    if (const Modifier *m = modifierFor(keysym))
        return m->mac;
    for (const Position &p : kPositions) {
        if (p.xKeyCode == xKeyCode)
            return p.mac;
    }
    return static_cast<quint16>(unmappedKeyCodeBase + (xKeyCode & 0xFFF));
}

QList<quint32> X11KeyTranslator::xKeyCodesForMacKeyCode(quint16 macKeyCode) const
{
    if (macKeyCode == KeyTap::keyFn)
        return {roleKeyCode(m_roleKey)};
    QList<quint32> codes;
    if (macKeyCode >= unmappedKeyCodeBase) {
        codes << quint32(macKeyCode - unmappedKeyCodeBase);
    } else {
        for (const Position &p : kPositions) {
            if (p.mac == macKeyCode)
                codes << p.xKeyCode;
        }
    }
    // The role key plays Fn and nothing else.
    codes.removeAll(roleKeyCode(m_roleKey));
    return codes;
}

quint64 X11KeyTranslator::flags() const
{
    quint64 f = m_capsLockOn ? KeyTap::flagCapsLock : 0;
    for (const quint16 code : m_heldModifiers)
        f |= flagForModifier(code);
    if (!m_heldLevelShifts.isEmpty())
        f |= KeyTap::flagAltGr;
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
    // A key held across a layout-group switch is released as what it was pressed as.
    const bool wasDown = m_keysDown.contains(xKeyCode);
    const quint16 code = wasDown ? m_keysDown.value(xKeyCode) : macKeyCode(xKeyCode, keysym);
    if (down)
        m_keysDown.insert(xKeyCode, code);
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
    // AltGr is a key of its own for the interpreter; while it is held, no binding matches.
    if (!down)
        m_heldLevelShifts.remove(xKeyCode);
    else if (!wasDown && code != KeyTap::keyFn && isLevelShift(keysym))
        m_heldLevelShifts.insert(xKeyCode);
    return KeyTapEvent{down ? KeyTap::keyDown : KeyTap::keyUp, code, flags(), down && wasDown};
}
