#include "platform/linux/XTestKeySynth.h"

#include "platform/linux/X11ErrorTrap.h"

#include <QStringList>
#include <algorithm>
#include <array>
#include <optional>

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

struct KeyMapping {
    quint16 macKeyCode;
    KeySym keysym;
    unsigned int evdevKeycode; // the key's place on a US keyboard, for layouts without the Latin letter
};

// The keys the product synthesises.
constexpr std::array<KeyMapping, 5> kKeys{{
    {9, XK_v, 55},        // V
    {8, XK_c, 54},        // C
    {0, XK_a, 38},        // A
    {36, XK_Return, 36},  // Return
    {114, XK_Insert, 118} // Insert (Help on a Mac keyboard)
}};

struct ModifierMapping {
    quint64 flag;
    KeySym keysym;
};

constexpr std::array<ModifierMapping, 4> kModifiers{{
    {0x100000, XK_Control_L}, // Command
    {0x40000, XK_Control_L},  // Control
    {0x80000, XK_Alt_L},      // Option
    {0x20000, XK_Shift_L},    // Shift
}};

// Terminals that paste the clipboard with Ctrl+Shift+V.
const QStringList &terminalClasses()
{
    static const QStringList classes{
        QStringLiteral("gnome-terminal"),
        QStringLiteral("gnome-terminal-server"),
        QStringLiteral("konsole"),
        QStringLiteral("xfce4-terminal"),
        QStringLiteral("terminator"),
        QStringLiteral("tilix"),
        QStringLiteral("alacritty"),
        QStringLiteral("kitty"),
        QStringLiteral("st"),
        QStringLiteral("st-256color"),
        QStringLiteral("lxterminal"),
        QStringLiteral("mate-terminal"),
        QStringLiteral("qterminal"),
        QStringLiteral("sakura"),
        QStringLiteral("terminology"),
        QStringLiteral("wezterm"),
        QStringLiteral("org.wezfurlong.wezterm"),
        QStringLiteral("guake"),
        QStringLiteral("tilda"),
        QStringLiteral("yakuake"),
        QStringLiteral("kgx"),
        QStringLiteral("x-terminal-emulator"),
        QStringLiteral("foot"),
        QStringLiteral("cool-retro-term"),
        QStringLiteral("deepin-terminal"),
        QStringLiteral("eterm"),
    };
    return classes;
}

// Terminals whose stock bindings paste only with Shift+Insert, and that from the primary selection.
const QStringList &primaryTerminalClasses()
{
    static const QStringList classes{QStringLiteral("xterm"), QStringLiteral("uxterm"), QStringLiteral("urxvt"),
                                     QStringLiteral("rxvt"), QStringLiteral("urxvt-unicode")};
    return classes;
}

// The focus may sit on a child of the client window, whose properties are on the client: asks `visit` about
// the focused window and then each ancestor below the root, until it answers.
template <typename Visit> auto fromFocusUp(Display *display, Visit visit) -> decltype(visit(Window{}))
{
    Window window = 0;
    int revert = 0;
    XGetInputFocus(display, &window, &revert);
    for (int depth = 0; window != 0 && window != PointerRoot && depth < 16; ++depth) {
        if (auto answer = visit(window))
            return answer;
        Window root = 0, parent = 0;
        Window *children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display, window, &root, &parent, &children, &count))
            break;
        if (children)
            XFree(children);
        if (parent == root)
            break;
        window = parent;
    }
    return std::nullopt;
}

bool isLockKeysym(KeySym sym)
{
    return sym == XK_Caps_Lock || sym == XK_Num_Lock || sym == XK_Scroll_Lock || sym == XK_Shift_Lock;
}
} // namespace

XTestKeySynth::XTestKeySynth() : m_display(XOpenDisplay(nullptr))
{
    if (!m_display)
        return;
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(m_display, &event, &error, &major, &minor)) {
        XCloseDisplay(m_display);
        m_display = nullptr;
        return;
    }
    // A window closing during the walk up from the focus must not end the program.
    X11ErrorTrap::ignoreErrorsOn(m_display);
}

XTestKeySynth::~XTestKeySynth()
{
    if (!m_display)
        return;
    X11ErrorTrap::stopIgnoring(m_display);
    XCloseDisplay(m_display);
}

unsigned int XTestKeySynth::keycodeFor(quint16 keyCode)
{
    const auto key =
        std::find_if(kKeys.begin(), kKeys.end(), [keyCode](const KeyMapping &k) { return k.macKeyCode == keyCode; });
    if (key == kKeys.end())
        return 0;
    // The active group decides: with "us,us(dvorak)" and Dvorak active, V sits where QWERTY has K. Group
    // switches send no MappingNotify, so state and map are asked afresh each time.
    unsigned int found = 0;
    XkbStateRec state{};
    XkbDescPtr xkb = XkbGetMap(m_display, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd);
    if (xkb && XkbGetState(m_display, XkbUseCoreKbd, &state) == Success) {
        for (int kc = xkb->min_key_code; kc <= xkb->max_key_code && !found; ++kc) {
            const int groups = XkbKeyNumGroups(xkb, kc);
            if (groups == 0)
                continue;
            const int group = state.group < groups ? state.group : state.group % groups;
            const KeySym sym = XkbKeySymEntry(xkb, kc, 0, group);
            if (sym == key->keysym)
                found = static_cast<unsigned int>(kc);
        }
    }
    if (xkb)
        XkbFreeKeyboard(xkb, 0, True);
    if (!found)
        found = XKeysymToKeycode(m_display, key->keysym);
    return found ? found : key->evdevKeycode;
}

QList<unsigned int> XTestKeySynth::heldModifierKeycodes()
{
    QList<unsigned int> held;
    char keys[32] = {};
    XQueryKeymap(m_display, keys);
    XModifierKeymap *map = XGetModifierMapping(m_display);
    if (!map)
        return held;
    for (int i = 0; i < 8 * map->max_keypermod; ++i) {
        const KeyCode kc = map->modifiermap[i];
        if (!kc || !(keys[kc / 8] & (1 << (kc % 8))) || held.contains(kc))
            continue;
        if (isLockKeysym(XkbKeycodeToKeysym(m_display, kc, 0, 0)))
            continue;
        held.append(kc);
    }
    XFreeModifiermap(map);
    return held;
}

bool XTestKeySynth::modifiersHeld()
{
    const std::lock_guard lock(m_mutex);
    return m_display && !heldModifierKeycodes().isEmpty();
}

bool XTestKeySynth::postKey(quint16 keyCode, quint64 flags, bool keyDown)
{
    const std::lock_guard lock(m_mutex);
    if (!m_display)
        return false;
    const unsigned int code = keyDown ? keycodeFor(keyCode) : (m_downKeycode ? m_downKeycode : keycodeFor(keyCode));
    if (!code)
        return false;

    QList<unsigned int> modifiers;
    for (const ModifierMapping &m : kModifiers) {
        const unsigned int mod = (flags & m.flag) ? XKeysymToKeycode(m_display, m.keysym) : 0;
        if (mod && !modifiers.contains(mod))
            modifiers.append(mod);
    }
    // A key-down carries its modifiers pressed before it, and nothing else: modifiers the user still holds are
    // let go first and pressed again after the key-up. A key-up lets its modifiers go after it.
    bool ok = true;
    if (keyDown) {
        m_released.clear();
        for (const unsigned int held : heldModifierKeycodes()) {
            if (!modifiers.contains(held)) {
                ok = XTestFakeKeyEvent(m_display, held, False, CurrentTime) && ok;
                m_released.append(held);
            }
        }
        for (const unsigned int mod : std::as_const(modifiers))
            ok = XTestFakeKeyEvent(m_display, mod, True, CurrentTime) && ok;
        ok = XTestFakeKeyEvent(m_display, code, True, CurrentTime) && ok;
        m_downKeycode = code;
    } else {
        ok = XTestFakeKeyEvent(m_display, code, False, CurrentTime) && ok;
        for (auto it = modifiers.crbegin(); it != modifiers.crend(); ++it)
            ok = XTestFakeKeyEvent(m_display, *it, False, CurrentTime) && ok;
        for (const unsigned int held : std::as_const(m_released))
            ok = XTestFakeKeyEvent(m_display, held, True, CurrentTime) && ok;
        m_released.clear();
        m_downKeycode = 0;
    }
    XSync(m_display, False);
    return ok;
}

quint64 XTestKeySynth::focusedWindow()
{
    const std::lock_guard lock(m_mutex);
    if (!m_display)
        return 0;
    Window window = 0;
    int revert = 0;
    XGetInputFocus(m_display, &window, &revert);
    return window == PointerRoot ? 0 : window;
}

QString XTestKeySynth::focusedWindowClass()
{
    const std::lock_guard lock(m_mutex);
    if (!m_display)
        return {};
    return fromFocusUp(m_display,
                       [this](Window window) -> std::optional<QString> {
                           XClassHint hint{nullptr, nullptr};
                           if (!XGetClassHint(m_display, window, &hint))
                               return std::nullopt;
                           const QString cls = QString::fromLocal8Bit(hint.res_class).toLower();
                           const QString name = QString::fromLocal8Bit(hint.res_name).toLower();
                           XFree(hint.res_name);
                           XFree(hint.res_class);
                           // The instance name wins when it names a terminal (xterm -name, RESOURCE_NAME).
                           const bool terminalName =
                               terminalClasses().contains(name) || primaryTerminalClasses().contains(name);
                           return terminalName || cls.isEmpty() ? name : cls;
                       })
        .value_or(QString());
}

KeySynth::PasteChord XTestKeySynth::pasteChordForFocusedWindow()
{
    const QString cls = focusedWindowClass();
    if (primaryTerminalClasses().contains(cls))
        return PasteChord::shiftInsert;
    if (terminalClasses().contains(cls))
        return PasteChord::commandShiftV;
    return PasteChord::commandV;
}

qint64 XTestKeySynth::focusedWindowPid()
{
    const std::lock_guard lock(m_mutex);
    if (!m_display)
        return 0;
    const Atom pidAtom = XInternAtom(m_display, "_NET_WM_PID", True);
    if (pidAtom == 0)
        return 0;
    return fromFocusUp(m_display,
                       [this, pidAtom](Window window) -> std::optional<qint64> {
                           Atom type = 0;
                           int format = 0;
                           unsigned long count = 0, remaining = 0;
                           unsigned char *data = nullptr;
                           if (XGetWindowProperty(m_display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format,
                                                  &count, &remaining, &data) != Success ||
                               !data)
                               return std::nullopt;
                           const qint64 pid =
                               (format == 32 && count == 1) ? static_cast<qint64>(*reinterpret_cast<long *>(data)) : 0;
                           XFree(data);
                           return pid > 0 ? std::optional<qint64>(pid) : std::nullopt;
                       })
        .value_or(0);
}
