#include "platform/linux/XTestKeySynth.h"

#include <QList>
#include <QStringList>
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
constexpr std::array<KeyMapping, 4> kKeys{{
    {9, XK_v, 55},       // V
    {8, XK_c, 54},       // C
    {0, XK_a, 38},       // A
    {36, XK_Return, 36}, // Return
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

const QStringList &terminalClasses()
{
    static const QStringList classes{
        QStringLiteral("xterm"),
        QStringLiteral("uxterm"),
        QStringLiteral("urxvt"),
        QStringLiteral("rxvt"),
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
} // namespace

XTestKeySynth::XTestKeySynth() : m_display(XOpenDisplay(nullptr))
{
    if (!m_display)
        return;
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(m_display, &event, &error, &major, &minor)) {
        XCloseDisplay(m_display);
        m_display = nullptr;
    }
}

XTestKeySynth::~XTestKeySynth()
{
    if (m_display)
        XCloseDisplay(m_display);
}

bool XTestKeySynth::postKey(quint16 keyCode, quint64 flags, bool keyDown)
{
    if (!m_display)
        return false;
    const auto key =
        std::find_if(kKeys.begin(), kKeys.end(), [keyCode](const KeyMapping &k) { return k.macKeyCode == keyCode; });
    if (key == kKeys.end())
        return false;
    KeyCode code = XKeysymToKeycode(m_display, key->keysym);
    if (!code)
        code = static_cast<KeyCode>(key->evdevKeycode);

    QList<KeyCode> modifiers;
    for (const ModifierMapping &m : kModifiers) {
        const KeyCode mod = (flags & m.flag) ? XKeysymToKeycode(m_display, m.keysym) : 0;
        if (mod && !modifiers.contains(mod))
            modifiers.append(mod);
    }
    // A key-down carries its modifiers pressed before it; a key-up lets them go after it.
    bool ok = true;
    if (keyDown) {
        for (KeyCode mod : modifiers)
            ok = XTestFakeKeyEvent(m_display, mod, True, CurrentTime) && ok;
        ok = XTestFakeKeyEvent(m_display, code, True, CurrentTime) && ok;
    } else {
        ok = XTestFakeKeyEvent(m_display, code, False, CurrentTime) && ok;
        for (auto it = modifiers.crbegin(); it != modifiers.crend(); ++it)
            ok = XTestFakeKeyEvent(m_display, *it, False, CurrentTime) && ok;
    }
    XSync(m_display, False);
    return ok;
}

QString XTestKeySynth::focusedWindowClass()
{
    if (!m_display)
        return {};
    return fromFocusUp(m_display,
                       [this](Window window) -> std::optional<QString> {
                           XClassHint hint{nullptr, nullptr};
                           if (!XGetClassHint(m_display, window, &hint))
                               return std::nullopt;
                           QString name =
                               QString::fromLocal8Bit(hint.res_class ? hint.res_class : hint.res_name).toLower();
                           if (hint.res_class && hint.res_name &&
                               terminalClasses().contains(QString::fromLocal8Bit(hint.res_name).toLower()))
                               name = QString::fromLocal8Bit(hint.res_name).toLower();
                           XFree(hint.res_name);
                           XFree(hint.res_class);
                           return name;
                       })
        .value_or(QString());
}

qint64 XTestKeySynth::focusedWindowPid()
{
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

bool XTestKeySynth::focusedWindowIsTerminal()
{
    return terminalClasses().contains(focusedWindowClass());
}
