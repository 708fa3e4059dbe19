#include "platform/linux/X11KeyEventTap.h"

#include "platform/linux/X11KeyTranslator.h"

#include <QHash>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <mutex>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {
// Xlib has one error handler for the whole process. The tap's thread collects the errors of its own
// connection; everything else goes to whoever handled errors before.
struct ErrorSink {
    Display *display = nullptr;
    QSet<unsigned long> failedSerials;
};
thread_local ErrorSink *t_sink = nullptr;
XErrorHandler g_previousHandler = nullptr;

int collectError(Display *display, XErrorEvent *error)
{
    if (t_sink && t_sink->display == display) {
        t_sink->failedSerials.insert(error->serial);
        return 0;
    }
    return g_previousHandler ? g_previousHandler(display, error) : 0;
}

void installErrorHandler()
{
    static std::once_flag once;
    std::call_once(once, [] { g_previousHandler = XSetErrorHandler(collectError); });
}

// Every subset of the given bits (zero included).
QList<unsigned int> subsets(const QList<unsigned int> &bits)
{
    QSet<unsigned int> result{0};
    for (const unsigned int bit : bits) {
        const QSet<unsigned int> before = result;
        for (const unsigned int m : before)
            result.insert(m | bit);
    }
    QList<unsigned int> sorted(result.cbegin(), result.cend());
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}
} // namespace

class X11KeyEventTap::Worker : public QObject
{
public:
    Worker(Display *display, int xiOpcode, int xkbEventBase, X11KeyEventTap *owner)
        : m_display(display), m_root(DefaultRootWindow(display)), m_xiOpcode(xiOpcode), m_xkbEventBase(xkbEventBase),
          m_owner(owner)
    {
        int event = 0, error = 0, major = 0, minor = 0;
        m_haveXTest = XTestQueryExtension(display, &event, &error, &major, &minor);
        XkbStateRec state{};
        if (XkbGetState(display, XkbUseCoreKbd, &state) == Success) {
            m_group = state.group;
            m_translator.setCapsLockOn((state.locked_mods & LockMask) != 0);
        }
        refreshKeymap();
    }

    // Runs on the tap's thread before it ends.
    void shutDown()
    {
        delete m_notifier;
        m_notifier = nullptr;
        t_sink = nullptr;
        for (auto it = m_grabs.cbegin(); it != m_grabs.cend(); ++it)
            XUngrabKey(m_display, static_cast<int>(it.key()), AnyModifier, m_root);
        XCloseDisplay(m_display);
        m_display = nullptr;
    }

    void enable(Mode mode)
    {
        // From here on every error of this connection is the tap's own business, never the end of the program.
        m_errors.display = m_display;
        t_sink = &m_errors;
        m_mode = mode;
        m_enabled = true;
        unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
        XISetMask(bits, XI_RawKeyPress);
        XISetMask(bits, XI_RawKeyRelease);
        XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
        XISelectEvents(m_display, m_root, &mask, 1);
        if (m_xkbEventBase >= 0) {
            const unsigned long stateParts = XkbGroupStateMask | XkbGroupLockMask | XkbModifierLockMask;
            XkbSelectEventDetails(m_display, XkbUseCoreKbd, XkbStateNotify, stateParts, stateParts);
            XkbSelectEvents(m_display, XkbUseCoreKbd, XkbNewKeyboardNotifyMask | XkbMapNotifyMask,
                            XkbNewKeyboardNotifyMask | XkbMapNotifyMask);
        }
        XFlush(m_display);
        m_notifier = new QSocketNotifier(ConnectionNumber(m_display), QSocketNotifier::Read);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] { readEvents(); });
        applyGrabs();
    }

    void setCandidates(const QList<KeyCombo> &combos, quint64 request)
    {
        m_wanted = combos;
        m_request = request;
        applyGrabs();
    }

    void setRoleKey(FnRoleKey key)
    {
        m_translator.setFnRoleKey(key);
        // Keys held under the old role would come back with another meaning.
        m_translator.reset();
        applyGrabs();
    }

private:
    struct Transition {
        bool press;
        quint32 xKeyCode;
        unsigned long time;
        bool operator==(const Transition &) const = default;
    };

    quint32 keysymAt(quint32 xKeyCode) const { return m_keysymAt.value(xKeyCode, NoSymbol); }

    void refreshKeymap()
    {
        m_keysymAt.clear();
        int minKeycode = 0;
        int maxKeycode = 0;
        XDisplayKeycodes(m_display, &minKeycode, &maxKeycode);
        QSet<quint32> blank;
        for (int kc = minKeycode; kc <= maxKeycode; ++kc) {
            const auto code = static_cast<KeyCode>(kc);
            // Keys with fewer groups than the active one fall back to their first, as XKB does for most.
            KeySym sym = XkbKeycodeToKeysym(m_display, code, static_cast<int>(m_group), 0);
            if (sym == NoSymbol)
                sym = XkbKeycodeToKeysym(m_display, code, 0, 0);
            if (sym != NoSymbol) {
                m_keysymAt.insert(static_cast<quint32>(kc), static_cast<quint32>(sym));
                continue;
            }
            bool empty = true;
            for (int group = 0; group < 4 && empty; ++group) {
                for (int level = 0; level < 4 && empty; ++level)
                    empty = XkbKeycodeToKeysym(m_display, code, group, level) == NoSymbol;
            }
            if (empty)
                blank.insert(static_cast<quint32>(kc));
        }

        // Which modifier bits the keymap gives Alt, Super, AltGr and the locks: not always Mod1, Mod4, Mod5, Mod2.
        m_altMask = m_superMask = m_levelMask = m_numLockMask = m_scrollLockMask = 0;
        if (XModifierKeymap *map = XGetModifierMapping(m_display)) {
            for (int index = 0; index < 8; ++index) {
                for (int j = 0; j < map->max_keypermod; ++j) {
                    const KeyCode kc = map->modifiermap[index * map->max_keypermod + j];
                    if (kc == 0)
                        continue;
                    blank.remove(kc);
                    if (index < Mod1MapIndex)
                        continue;
                    const unsigned int bit = 1U << index;
                    for (int group = 0; group < 4; ++group) {
                        for (int level = 0; level < 2; ++level) {
                            switch (XkbKeycodeToKeysym(m_display, kc, group, level)) {
                            case XK_Alt_L:
                            case XK_Alt_R:
                            case XK_Meta_L:
                            case XK_Meta_R:
                                m_altMask |= bit;
                                break;
                            case XK_Super_L:
                            case XK_Super_R:
                                m_superMask |= bit;
                                break;
                            case XK_ISO_Level3_Shift:
                            case XK_Mode_switch:
                            case XK_ISO_Level5_Shift:
                                m_levelMask |= bit;
                                break;
                            case XK_Num_Lock:
                                m_numLockMask |= bit;
                                break;
                            case XK_Scroll_Lock:
                                m_scrollLockMask |= bit;
                                break;
                            default:
                                break;
                            }
                        }
                    }
                }
            }
            XFreeModifiermap(map);
        }
        if (m_altMask == 0)
            m_altMask = Mod1Mask;
        if (m_superMask == 0)
            m_superMask = Mod4Mask;
        // A bit shared with Alt or Super is theirs.
        m_levelMask &= ~(m_altMask | m_superMask);
        m_lockCombos = subsets({LockMask, m_numLockMask, m_scrollLockMask});
        // A key that types nothing in any group: pressing it tells the desktop a modifier was no bare tap.
        m_neutralKeyCode = 0;
        for (const quint32 kc : std::as_const(blank))
            m_neutralKeyCode = std::max(m_neutralKeyCode, kc);
    }

    unsigned int maskFor(int modifiers) const
    {
        unsigned int mask = 0;
        if (modifiers & 1)
            mask |= m_superMask;
        if (modifiers & 2)
            mask |= m_altMask;
        if (modifiers & 4)
            mask |= ControlMask;
        if (modifiers & 8)
            mask |= ShiftMask;
        return mask;
    }

    // The modifier states a candidate is grabbed with, with every lock combination; the first has no lock.
    QList<unsigned int> masksFor(const KeyCombo &combo) const
    {
        const QList<unsigned int> held = combo.anyModifiers
                                             ? subsets({ShiftMask, ControlMask, m_altMask, m_superMask, m_levelMask})
                                             : QList<unsigned int>{maskFor(combo.modifiers)};
        QList<unsigned int> masks;
        for (const unsigned int h : held) {
            for (const unsigned int lock : m_lockCombos) {
                if (!masks.contains(h | lock))
                    masks << (h | lock);
            }
        }
        return masks;
    }

    QList<quint32> keycodesFor(const KeyCombo &combo) const
    {
        // Modifier keys are never grabbed: their bindings fire on release (see KeyCombo).
        if (combo.keyCode != KeyTap::keyFn && KeyTap::isModifierKeyCode(combo.keyCode))
            return {};
        return m_translator.xKeyCodesForMacKeyCode(combo.keyCode);
    }

    // `regrab`: the keymap changed, so every grab is taken again even where the masks look the same.
    void applyGrabs(bool regrab = false)
    {
        if (!m_display || !m_enabled)
            return;
        // "Any modifiers" is spelt out mask by mask: a single AnyModifier grab fails as a whole as soon as
        // another client (the window manager) holds one of the combinations, say Alt+Space.
        QHash<quint32, QSet<unsigned int>> wanted;
        if (m_mode == Mode::activeFilter) {
            for (const KeyCombo &combo : std::as_const(m_wanted)) {
                const QList<unsigned int> masks = masksFor(combo);
                for (const quint32 kc : keycodesFor(combo)) {
                    QSet<unsigned int> &set = wanted[kc];
                    for (const unsigned int mask : masks)
                        set.insert(mask);
                }
            }
        }
        QSet<quint32> touched;
        for (auto it = m_wantedMasks.cbegin(); it != m_wantedMasks.cend(); ++it)
            touched.insert(it.key());
        for (auto it = wanted.cbegin(); it != wanted.cend(); ++it)
            touched.insert(it.key());

        m_errors.failedSerials.clear();
        QList<std::pair<quint32, std::pair<unsigned int, unsigned long>>> requests;
        for (const quint32 kc : std::as_const(touched)) {
            const QSet<unsigned int> target = wanted.value(kc);
            const QSet<unsigned int> current = m_wantedMasks.value(kc);
            if (!regrab && current == target)
                continue;
            // Grabs still wanted are taken again in place, never dropped first: a key pressed in between
            // would slip through.
            for (const unsigned int mask : current - target)
                XUngrabKey(m_display, static_cast<int>(kc), mask, m_root);
            m_grabs.remove(kc);
            m_wantedMasks.remove(kc);
            if (target.isEmpty())
                continue;
            m_wantedMasks.insert(kc, target);
            for (const unsigned int mask : target) {
                const unsigned long serial = NextRequest(m_display);
                XGrabKey(m_display, static_cast<int>(kc), mask, m_root, False, GrabModeAsync, GrabModeSync);
                requests.append({kc, {mask, serial}});
            }
        }
        XSync(m_display, False);
        for (const auto &[kc, request] : std::as_const(requests)) {
            // Refused: another client holds this combination; it stays observed only.
            if (!m_errors.failedSerials.contains(request.second))
                m_grabs[kc].insert(request.first);
        }

        QList<KeyCombo> grabbed;
        for (const KeyCombo &combo : std::as_const(m_wanted)) {
            const QList<quint32> codes = keycodesFor(combo);
            if (m_mode != Mode::activeFilter || codes.isEmpty())
                continue;
            const QList<unsigned int> masks = masksFor(combo);
            const bool primary = std::all_of(codes.cbegin(), codes.cend(), [&](quint32 kc) {
                return m_grabs.value(kc).contains(masks.first());
            });
            if (primary)
                grabbed << combo;
        }
        X11KeyEventTap *owner = m_owner;
        const quint64 request = m_request;
        QMetaObject::invokeMethod(
            owner, [owner, request, grabbed] { owner->takeGrabReport(request, grabbed); },
            Qt::QueuedConnection);
        // XSync may have queued events inside Xlib, where the socket notifier cannot see them.
        if (XQLength(m_display) > 0)
            QTimer::singleShot(0, this, [this] { readEvents(); });
    }

    void readEvents()
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

    void dispatch(XEvent &event)
    {
        if (m_xkbEventBase >= 0 && event.type == m_xkbEventBase) {
            dispatchXkb(reinterpret_cast<XkbEvent &>(event));
            return;
        }
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
            // Only grabs send these, and the keyboard stands still until the press is answered.
            handleKey(true, event.xkey.keycode, event.xkey.time, false);
            answerGrab(event.xkey.keycode, event.xkey.time);
            return;
        case KeyRelease:
            // While a grab is active, its client gets the keyboard's core events and not always their raw twins.
            handleKey(false, event.xkey.keycode, event.xkey.time, false);
            return;
        case MappingNotify:
            if (event.xmapping.request == MappingKeyboard || event.xmapping.request == MappingModifier) {
                XRefreshKeyboardMapping(&event.xmapping);
                keymapChanged();
            }
            return;
        default:
            return;
        }
    }

    void dispatchXkb(XkbEvent &event)
    {
        switch (event.any.xkb_type) {
        case XkbStateNotify:
            m_translator.setCapsLockOn((event.state.locked_mods & LockMask) != 0);
            if (static_cast<unsigned int>(event.state.group) != m_group) {
                // A layout switch sends no MappingNotify; what the modifier keys are may differ in the new group.
                m_group = static_cast<unsigned int>(event.state.group);
                keymapChanged();
            }
            return;
        case XkbMapNotify:
            XkbRefreshKeyboardMapping(&event.map);
            keymapChanged();
            return;
        case XkbNewKeyboardNotify:
            keymapChanged();
            return;
        default:
            return;
        }
    }

    void keymapChanged()
    {
        // Key codes and modifier bits may have moved.
        refreshKeymap();
        applyGrabs(true);
    }

    void handleKey(bool press, quint32 xKeyCode, unsigned long time, bool raw)
    {
        // Our own neutral key is nobody's keystroke.
        if (xKeyCode == m_neutralKeyCode && m_neutralPending > 0) {
            --m_neutralPending;
            return;
        }
        // A grabbed transition arrives twice, as a raw event and then as a core event with the same timestamp.
        // The core one counts only when its raw twin never came. (XTest gives many events one timestamp, so a
        // raw event is matched to at most one core event.)
        const Transition transition{press, xKeyCode, time};
        if (raw) {
            m_recentRaw.append(transition);
            if (m_recentRaw.size() > 64)
                m_recentRaw.removeFirst();
        } else if (m_recentRaw.removeOne(transition)) {
            return;
        }

        const quint32 keysym = keysymAt(xKeyCode);
        const quint64 flagsBefore = m_translator.flags();
        const std::optional<KeyTapEvent> event =
            press ? m_translator.press(xKeyCode, keysym) : m_translator.release(xKeyCode, keysym);
        if (press)
            m_pressEvents.insert(xKeyCode, event);
        if (!event)
            return;
        if (press && event->type == KeyTap::flagsChanged)
            maskModifierTap(*event, flagsBefore);
        X11KeyEventTap *owner = m_owner;
        const KeyTapEvent e = *event;
        QMetaObject::invokeMethod(
            owner, [owner, e] { owner->deliver(e); }, Qt::QueuedConnection);
    }

    // A modifier that may fire a binding of its own on release: type a key that does nothing while it is
    // held, so that the desktop does not take its release for a tap (menu bar, launcher).
    void maskModifierTap(const KeyTapEvent &event, quint64 flagsBefore)
    {
        if (m_mode != Mode::activeFilter || !m_haveXTest || m_neutralKeyCode == 0 || event.keyCode == KeyTap::keyFn ||
            (event.flags & ~flagsBefore) == 0)
            return;
        const bool bound = std::any_of(m_wanted.cbegin(), m_wanted.cend(), [&](const KeyCombo &c) {
            return c.keyCode == event.keyCode && !c.anyModifiers &&
                   c.modifiers == KeyTap::bindingModifiers(flagsBefore) && (flagsBefore & KeyTap::flagAltGr) == 0;
        });
        if (!bound)
            return;
        m_neutralPending += 2;
        XTestFakeKeyEvent(m_display, m_neutralKeyCode, True, CurrentTime);
        XTestFakeKeyEvent(m_display, m_neutralKeyCode, False, CurrentTime);
        XFlush(m_display);
    }

    void answerGrab(quint32 xKeyCode, unsigned long time)
    {
        const std::optional<KeyTapEvent> event = m_pressEvents.value(xKeyCode);
        const bool roleHeld = m_translator.isFnRoleKey(xKeyCode) &&
                              std::any_of(m_wanted.cbegin(), m_wanted.cend(),
                                          [](const KeyCombo &c) { return c.keyCode == KeyTap::keyFn; });
        // The Fn stand-in never reaches applications, repeats included, as a real Fn key would not.
        const bool swallow = roleHeld || (event && KeyTap::grabSwallows(m_wanted, *event));
        if (swallow) {
            // Ending the grab keeps this press and lets everything after it (the release, repeats, other keys
            // typed meanwhile) go on to the focused window, in one step, so no queued key lands on this client.
            XUngrabKeyboard(m_display, time);
        } else {
            XAllowEvents(m_display, ReplayKeyboard, time);
        }
        XFlush(m_display);
    }

    Display *m_display;
    unsigned long m_root;
    int m_xiOpcode;
    int m_xkbEventBase;
    X11KeyEventTap *m_owner;
    bool m_haveXTest = false;
    ErrorSink m_errors;
    Mode m_mode = Mode::listenOnly;
    bool m_enabled = false;
    bool m_reading = false;
    QSocketNotifier *m_notifier = nullptr;
    X11KeyTranslator m_translator;
    unsigned int m_group = 0;
    QHash<quint32, quint32> m_keysymAt; // X key code -> keysym at the first level of the active group
    unsigned int m_altMask = Mod1Mask;
    unsigned int m_superMask = Mod4Mask;
    unsigned int m_levelMask = 0;
    unsigned int m_numLockMask = 0;
    unsigned int m_scrollLockMask = 0;
    QList<unsigned int> m_lockCombos{0};
    quint32 m_neutralKeyCode = 0;
    int m_neutralPending = 0;
    QList<KeyCombo> m_wanted;
    quint64 m_request = 0; // which of the owner's candidate lists m_wanted is
    QHash<quint32, QSet<unsigned int>> m_wantedMasks;         // X key code -> modifier masks asked for
    QHash<quint32, QSet<unsigned int>> m_grabs;               // X key code -> modifier masks actually held
    QList<Transition> m_recentRaw;                            // raw transitions not yet matched by a core event
    QHash<quint32, std::optional<KeyTapEvent>> m_pressEvents; // X key code -> what its last press was
};

X11KeyEventTap::X11KeyEventTap(QByteArray displayName, QObject *parent)
    : QObject(parent), m_displayName(std::move(displayName))
{
    m_thread.setObjectName(QStringLiteral("voxle.keyboard.tap"));
}

X11KeyEventTap::~X11KeyEventTap()
{
    if (m_worker) {
        Worker *worker = m_worker;
        if (m_thread.isRunning()) {
            QMetaObject::invokeMethod(
                worker, [worker] { worker->shutDown(); }, Qt::BlockingQueuedConnection);
            m_thread.quit();
            m_thread.wait();
        } else {
            worker->shutDown();
        }
        delete worker;
    }
}

bool X11KeyEventTap::inputMonitoringGranted() const
{
    if (m_worker)
        return true;
    Display *probe = XOpenDisplay(m_displayName.isEmpty() ? nullptr : m_displayName.constData());
    if (!probe)
        return false;
    XCloseDisplay(probe);
    return true;
}

bool X11KeyEventTap::create(Mode mode, Handler handler)
{
    if (!m_worker) {
        Display *display = XOpenDisplay(m_displayName.isEmpty() ? nullptr : m_displayName.constData());
        if (!display)
            return false;
        int xiOpcode = -1;
        int event = 0;
        int error = 0;
        int major = 2;
        int minor = 2;
        // Raw events reach every client, grabs or not, from XInput 2.2 on.
        if (!XQueryExtension(display, "XInputExtension", &xiOpcode, &event, &error) ||
            XIQueryVersion(display, &major, &minor) != Success || major < 2 || (major == 2 && minor < 2)) {
            XCloseDisplay(display);
            return false;
        }
        int xkbOpcode = 0;
        int xkbEventBase = -1;
        int xkbMajor = XkbMajorVersion;
        int xkbMinor = XkbMinorVersion;
        if (!XkbQueryExtension(display, &xkbOpcode, &xkbEventBase, &error, &xkbMajor, &xkbMinor))
            xkbEventBase = -1;
        installErrorHandler();
        m_worker = new Worker(display, xiOpcode, xkbEventBase, this);
        Worker *worker = m_worker;
        const FnRoleKey role = m_roleKey;
        worker->setRoleKey(role);
        worker->moveToThread(&m_thread);
        m_thread.start();
    }
    m_mode = mode;
    m_handler = std::move(handler);
    return true;
}

void X11KeyEventTap::enable()
{
    if (!m_worker || m_enabled)
        return;
    m_enabled = true;
    Worker *worker = m_worker;
    const Mode mode = m_mode;
    const QList<KeyCombo> wanted = m_wanted;
    const quint64 request = m_request;
    QMetaObject::invokeMethod(
        worker,
        [worker, mode, wanted, request] {
            worker->setCandidates(wanted, request);
            worker->enable(mode);
        },
        Qt::QueuedConnection);
}

void X11KeyEventTap::setSwallowCandidates(const QList<KeyCombo> &combos)
{
    if (combos == m_wanted)
        return;
    m_wanted = combos;
    ++m_request;
    if (!m_worker)
        return;
    Worker *worker = m_worker;
    const quint64 request = m_request;
    QMetaObject::invokeMethod(
        worker, [worker, combos, request] { worker->setCandidates(combos, request); }, Qt::QueuedConnection);
}

void X11KeyEventTap::setFnRoleKey(FnRoleKey key)
{
    if (key == m_roleKey)
        return;
    m_roleKey = key;
    if (!m_worker)
        return;
    Worker *worker = m_worker;
    QMetaObject::invokeMethod(
        worker, [worker, key] { worker->setRoleKey(key); }, Qt::QueuedConnection);
}

void X11KeyEventTap::deliver(const KeyTapEvent &event)
{
    // The answer is the tap thread's (given before this runs); the handler decides what the key means.
    if (m_handler)
        m_handler(event);
}

void X11KeyEventTap::takeGrabReport(quint64 request, const QList<KeyCombo> &grabbed)
{
    // A report for candidates already replaced is no news, and describes grabs that may be gone by now (the
    // same list asked twice, with another in between, is two requests): newer grabs are on their way.
    if (request != m_request)
        return;
    m_reported = request;
    m_grabbed = grabbed;
    emit grabsApplied();
}
