#include "platform/linux/X11KeyEventTap.h"

#include <QSocketNotifier>
#include <QTimer>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

namespace {
int g_trappedErrors = 0;

int trapError(Display *, XErrorEvent *)
{
    ++g_trappedErrors;
    return 0;
}

// Lock and Num Lock (Mod2 on every common keymap) must not stop a combination from matching.
constexpr unsigned int kIgnoredMasks[] = {0, LockMask, Mod2Mask, LockMask | Mod2Mask};

unsigned int maskFor(int modifiers)
{
    unsigned int mask = 0;
    if (modifiers & 1)
        mask |= Mod4Mask; // command: Super
    if (modifiers & 2)
        mask |= Mod1Mask; // option: Alt
    if (modifiers & 4)
        mask |= ControlMask;
    if (modifiers & 8)
        mask |= ShiftMask;
    return mask;
}
} // namespace

X11KeyEventTap::X11KeyEventTap(QByteArray displayName, QObject *parent)
    : QObject(parent), m_displayName(std::move(displayName))
{
}

X11KeyEventTap::~X11KeyEventTap()
{
    delete m_notifier;
    if (m_display) {
        for (auto it = m_grabs.cbegin(); it != m_grabs.cend(); ++it)
            XUngrabKey(m_display, static_cast<int>(it.key()), AnyModifier, m_root);
        XCloseDisplay(m_display);
    }
}

bool X11KeyEventTap::inputMonitoringGranted() const
{
    if (m_display)
        return true;
    Display *probe = XOpenDisplay(m_displayName.isEmpty() ? nullptr : m_displayName.constData());
    if (!probe)
        return false;
    XCloseDisplay(probe);
    return true;
}

bool X11KeyEventTap::create(Mode mode, Handler handler)
{
    if (!m_display) {
        Display *display = XOpenDisplay(m_displayName.isEmpty() ? nullptr : m_displayName.constData());
        if (!display)
            return false;
        int event = 0;
        int error = 0;
        int major = 2;
        int minor = 2;
        // Raw events reach every client, grabs or not, from XInput 2.2 on.
        if (!XQueryExtension(display, "XInputExtension", &m_xiOpcode, &event, &error) ||
            XIQueryVersion(display, &major, &minor) != Success || major < 2 || (major == 2 && minor < 2)) {
            XCloseDisplay(display);
            return false;
        }
        m_display = display;
        m_root = DefaultRootWindow(display);
        rebuildKeymap();
        XkbStateRec state{};
        if (XkbGetState(display, XkbUseCoreKbd, &state) == Success)
            m_translator.setCapsLockOn((state.locked_mods & LockMask) != 0);
    }
    m_mode = mode;
    m_handler = std::move(handler);
    return true;
}

void X11KeyEventTap::enable()
{
    if (!m_display || m_enabled)
        return;
    m_enabled = true;
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XISetMask(bits, XI_RawKeyRelease);
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
    XISelectEvents(m_display, m_root, &mask, 1);
    XFlush(m_display);
    m_notifier = new QSocketNotifier(ConnectionNumber(m_display), QSocketNotifier::Read);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11KeyEventTap::readEvents);
    applyGrabs();
}

void X11KeyEventTap::setSwallowCandidates(const QList<KeyCombo> &combos)
{
    if (combos == m_wanted)
        return;
    m_wanted = combos;
    applyGrabs();
}

void X11KeyEventTap::setFnRoleKey(FnRoleKey key)
{
    if (key == m_translator.fnRoleKey())
        return;
    m_translator.setFnRoleKey(key);
    // Keys held under the old role would come back with another meaning.
    m_translator.reset();
    applyGrabs();
}

void X11KeyEventTap::rebuildKeymap()
{
    m_keysymAt.clear();
    int minKeycode = 0;
    int maxKeycode = 0;
    XDisplayKeycodes(m_display, &minKeycode, &maxKeycode);
    for (int kc = minKeycode; kc <= maxKeycode; ++kc) {
        const KeySym sym = XkbKeycodeToKeysym(m_display, static_cast<KeyCode>(kc), 0, 0);
        if (sym != NoSymbol)
            m_keysymAt.insert(static_cast<quint32>(kc), static_cast<quint32>(sym));
    }
}

QList<quint32> X11KeyEventTap::keycodesFor(const KeyCombo &combo) const
{
    QList<quint32> codes;
    if (combo.keyCode >= X11KeyTranslator::unmappedKeyCodeBase) {
        codes << combo.keyCode - X11KeyTranslator::unmappedKeyCodeBase;
        return codes;
    }
    const QList<quint32> syms = m_translator.keysymsForMacKeyCode(combo.keyCode);
    for (auto it = m_keysymAt.cbegin(); it != m_keysymAt.cend(); ++it) {
        if (syms.contains(it.value()))
            codes << it.key();
    }
    return codes;
}

void X11KeyEventTap::applyGrabs()
{
    if (!m_display || !m_enabled)
        return;
    // The modifier masks each key code should be grabbed with. "Any modifiers" is spelt out mask by mask: a
    // single AnyModifier grab fails as a whole as soon as another client (the window manager) holds one of
    // the combinations, say Alt+Space.
    QHash<quint32, QSet<unsigned int>> wanted;
    if (m_mode == Mode::activeFilter) {
        for (const KeyCombo &combo : std::as_const(m_wanted)) {
            for (const quint32 kc : keycodesFor(combo)) {
                QSet<unsigned int> &masks = wanted[kc];
                for (const unsigned int mask : masksFor(combo))
                    masks.insert(mask);
            }
        }
    }
    QSet<quint32> touched;
    for (auto it = m_wantedMasks.cbegin(); it != m_wantedMasks.cend(); ++it)
        touched.insert(it.key());
    for (auto it = wanted.cbegin(); it != wanted.cend(); ++it)
        touched.insert(it.key());

    XErrorHandler previous = XSetErrorHandler(trapError);
    for (const quint32 kc : std::as_const(touched)) {
        const QSet<unsigned int> target = wanted.value(kc);
        if (m_wantedMasks.value(kc) == target)
            continue;
        XUngrabKey(m_display, static_cast<int>(kc), AnyModifier, m_root);
        m_grabs.remove(kc);
        m_wantedMasks.remove(kc);
        if (target.isEmpty())
            continue;
        m_wantedMasks.insert(kc, target);
        QSet<unsigned int> held;
        for (const unsigned int mask : target) {
            g_trappedErrors = 0;
            XGrabKey(m_display, static_cast<int>(kc), mask, m_root, False, GrabModeAsync, GrabModeSync);
            XSync(m_display, False);
            // Refused: another client holds this combination; it stays observed only.
            if (g_trappedErrors == 0)
                held.insert(mask);
        }
        m_grabs.insert(kc, held);
    }
    XSetErrorHandler(previous);

    QList<KeyCombo> grabbed;
    QList<KeyCombo> refused;
    for (const KeyCombo &combo : std::as_const(m_wanted)) {
        const QList<quint32> codes = keycodesFor(combo);
        if (m_mode != Mode::activeFilter || codes.isEmpty())
            continue;
        const QList<unsigned int> masks = masksFor(combo);
        bool primary = true;
        bool complete = true;
        for (const quint32 kc : codes) {
            const QSet<unsigned int> held = m_grabs.value(kc);
            primary = primary && held.contains(masks.first());
            for (const unsigned int mask : masks)
                complete = complete && held.contains(mask);
        }
        if (primary)
            grabbed << combo;
        if (!complete)
            refused << combo;
    }
    const bool changed = grabbed != m_grabbed || refused != m_refused;
    m_grabbed = grabbed;
    m_refused = refused;
    XFlush(m_display);
    scheduleRead();
    if (changed)
        emit grabsChanged();
}

QList<unsigned int> X11KeyEventTap::masksFor(const KeyCombo &combo)
{
    QList<unsigned int> masks;
    if (combo.anyModifiers || combo.keyCode == KeyTap::keyFn) {
        for (int modifiers = 0; modifiers < 16; ++modifiers) {
            for (const unsigned int ignored : kIgnoredMasks)
                masks << (maskFor(modifiers) | ignored);
        }
    } else {
        for (const unsigned int ignored : kIgnoredMasks)
            masks << (maskFor(combo.modifiers) | ignored);
    }
    return masks; // the first is the combination without Lock or Num Lock
}

void X11KeyEventTap::scheduleRead()
{
    // XSync may have queued events inside Xlib, where the socket notifier cannot see them.
    if (!m_reading && m_display && XQLength(m_display) > 0)
        QTimer::singleShot(0, this, &X11KeyEventTap::readEvents);
}

void X11KeyEventTap::readEvents()
{
    if (!m_display || m_reading)
        return;
    m_reading = true;
    while (XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        dispatch(event);
    }
    m_reading = false;
}

void X11KeyEventTap::dispatch(XEvent &event)
{
    switch (event.type) {
    case GenericEvent: {
        XGenericEventCookie *cookie = &event.xcookie;
        if (cookie->extension != m_xiOpcode || !XGetEventData(m_display, cookie))
            return;
        if (cookie->evtype == XI_RawKeyPress || cookie->evtype == XI_RawKeyRelease) {
            const auto *raw = static_cast<const XIRawEvent *>(cookie->data);
            handleKey(cookie->evtype == XI_RawKeyPress, static_cast<quint32>(raw->detail), raw->time, true);
        }
        XFreeEventData(m_display, cookie);
        return;
    }
    case KeyPress:
        // Only grabs send these. Keys pressed while a grab is active may reach this client this way alone.
        handleKey(true, event.xkey.keycode, event.xkey.time, false);
        // When a grab just became active, the keyboard waits for the answer.
        handleGrabbedPress(event.xkey.keycode, event.xkey.time);
        return;
    case KeyRelease:
        // While a grab is active, its client gets the keyboard's core events and not always their raw twins.
        handleKey(false, event.xkey.keycode, event.xkey.time, false);
        return;
    case MappingNotify:
        if (event.xmapping.request == MappingKeyboard || event.xmapping.request == MappingModifier) {
            XRefreshKeyboardMapping(&event.xmapping);
            // Key codes may have moved: drop every grab and take them afresh.
            for (auto it = m_grabs.cbegin(); it != m_grabs.cend(); ++it)
                XUngrabKey(m_display, static_cast<int>(it.key()), AnyModifier, m_root);
            m_grabs.clear();
            m_wantedMasks.clear();
            rebuildKeymap();
            applyGrabs();
        }
        return;
    default:
        return;
    }
}

void X11KeyEventTap::handleKey(bool press, quint32 xKeyCode, unsigned long time, bool raw)
{
    // A grabbed transition arrives twice, as a raw event and then as a core event with the same timestamp. The
    // core one counts only when its raw twin never came. (XTest gives many events one timestamp, so a raw event
    // is matched to at most one core event.)
    const Transition transition{press, xKeyCode, time};
    if (raw) {
        m_recentRaw.append(transition);
        if (m_recentRaw.size() > 64)
            m_recentRaw.removeFirst();
    } else if (m_recentRaw.removeOne(transition)) {
        return;
    }

    const quint32 keysym = m_keysymAt.value(xKeyCode, NoSymbol);
    const std::optional<KeyTapEvent> event =
        press ? m_translator.press(xKeyCode, keysym) : m_translator.release(xKeyCode, keysym);
    if (!event || !m_handler)
        return;
    const KeyTapVerdict verdict = m_handler(*event);
    if (m_mode == Mode::activeFilter && verdict == KeyTapVerdict::swallow && press)
        m_swallowAt.insert(xKeyCode, time);
}

void X11KeyEventTap::handleGrabbedPress(quint32 xKeyCode, unsigned long time)
{
    const quint32 keysym = m_keysymAt.value(xKeyCode, NoSymbol);
    const auto it = m_swallowAt.constFind(xKeyCode);
    // The Fn stand-in never reaches applications, as a real Fn key would not.
    const bool swallow = m_translator.isFnRoleKey(keysym) || (it != m_swallowAt.cend() && it.value() == time);
    m_swallowAt.remove(xKeyCode);
    if (swallow) {
        // Ending the grab keeps this press and lets everything after it (the release, repeats, other keys typed
        // meanwhile) go on to the focused window, in one step, so no queued key lands on this client.
        XUngrabKeyboard(m_display, time);
    } else {
        XAllowEvents(m_display, ReplayKeyboard, time);
    }
    XFlush(m_display);
}
