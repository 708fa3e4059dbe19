// The real X11 tap and the interpreter together, driven by XTest key presses on the test display, with a
// plain X window holding the focus to show what reaches an application. Layouts are set with setxkbmap on the
// test's own display and put back to US after each test.
#include "../support/DesktopChild.h"
#include "FakeHotkeyHost.h"
#include "QuietDebugEvents.h"
#include "hotkeys/GlobalHotkeyService.h"
#include "platform/fake/ManualClock.h"
#include "platform/linux/X11KeyEventTap.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {
// Places of keys on the evdev keymap.
constexpr unsigned int kcQ = 24, kcY = 29, kcA = 38, kcK = 45, kcZ = 52, kcF5 = 71;

// A focused window in its own connection, standing for the application the user types into; it also sends
// the XTest key events.
class FocusedField
{
public:
    FocusedField()
    {
        m_display = XOpenDisplay(nullptr);
        if (!m_display)
            return;
        const Window root = DefaultRootWindow(m_display);
        m_window = XCreateSimpleWindow(m_display, root, 10, 10, 200, 100, 0, 0, 0);
        XSelectInput(m_display, m_window, KeyPressMask | StructureNotifyMask);
        XMapRaised(m_display, m_window);
        XSync(m_display, False);
        for (int i = 0; i < 200; ++i) {
            XWindowAttributes attrs{};
            XGetWindowAttributes(m_display, m_window, &attrs);
            if (attrs.map_state == IsViewable)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10)); // may run off the main thread
        }
        XSetInputFocus(m_display, m_window, RevertToParent, CurrentTime);
        received(); // drop anything from before (and sync)
    }
    ~FocusedField()
    {
        if (m_display) {
            // A failed check must not leave a key held or a lock on for the next test.
            for (const unsigned int kc : std::as_const(m_held))
                XTestFakeKeyEvent(m_display, kc, False, CurrentTime);
            XkbLockModifiers(m_display, XkbUseCoreKbd, 0xFF, 0);
            XkbLockGroup(m_display, XkbUseCoreKbd, 0);
            XDestroyWindow(m_display, m_window);
            XCloseDisplay(m_display);
        }
    }
    bool ok() const { return m_display != nullptr; }
    Display *display() const { return m_display; }
    void code(unsigned int kc, bool down)
    {
        XTestFakeKeyEvent(m_display, kc, down ? True : False, CurrentTime);
        XSync(m_display, False);
        m_held.remove(kc);
        if (down)
            m_held.insert(kc);
    }
    void key(KeySym sym, bool down) { code(XKeysymToKeycode(m_display, sym), down); }
    void tapCode(unsigned int kc)
    {
        code(kc, true);
        code(kc, false);
    }
    void tap(KeySym sym) { tapCode(XKeysymToKeycode(m_display, sym)); }
    // Presses with modifiers held, by place.
    void chord(QList<KeySym> modifiers, unsigned int kc)
    {
        for (const KeySym m : modifiers)
            key(m, true);
        tapCode(kc);
        std::reverse(modifiers.begin(), modifiers.end());
        for (const KeySym m : modifiers)
            key(m, false);
    }

    // What the key presses that reached the window typed so far (as the window's layout reads them), in order.
    QList<KeySym> received()
    {
        XSync(m_display, False);
        while (XPending(m_display) > 0) {
            XEvent ev;
            XNextEvent(m_display, &ev);
            if (ev.type == KeyPress) {
                char text[8];
                KeySym sym = NoSymbol;
                XLookupString(&ev.xkey, text, sizeof text, &sym, nullptr);
                m_keys << sym;
            }
        }
        return m_keys;
    }
    // Waits until `sym` has arrived (the barrier that everything typed before it has arrived too).
    bool arrived(KeySym sym)
    {
        for (int i = 0; i < 300 && !received().contains(sym); ++i)
            QTest::qWait(10);
        return m_keys.contains(sym);
    }

private:
    Display *m_display = nullptr;
    Window m_window = 0;
    QList<KeySym> m_keys;
    QSet<unsigned int> m_held;
};

struct Rig {
    ManualClock clock;
    FakeHotkeyHost host;
    X11KeyEventTap tap;
    GlobalHotkeyService service{host, tap, clock};
    FocusedField field;
    QSignalSpy grabs{&tap, &X11KeyEventTap::grabsApplied};

    explicit Rig(HotkeyScheme scheme) { host.scheme = scheme; }
    // Starts, or applies the host's new state, and waits until the grabs follow it.
    bool apply()
    {
        if (!field.ok())
            return false;
        grabs.clear();
        if (service.isTapping())
            service.refreshSwallowCandidates();
        else
            service.start();
        return grabs.wait(5000);
    }
    // Whether the grabs taken for the interpreter's latest candidates hold `key`; unknown while they are on
    // their way.
    std::optional<bool> holding(quint16 key) const
    {
        if (!tap.grabsCurrent())
            return std::nullopt;
        const QList<KeyCombo> combos = tap.grabbedCombos();
        return std::any_of(combos.begin(), combos.end(), [key](const KeyCombo &c) { return c.keyCode == key; });
    }
};

bool setLayout(const QStringList &args)
{
    return QProcess::execute(QStringLiteral("setxkbmap"),
                             QStringList{QStringLiteral("-display"), qEnvironmentVariable("DISPLAY")} + args) == 0;
}
} // namespace

class TestX11KeyEventTap : public QObject
{
    Q_OBJECT

    QuietDebugEvents m_quiet;

private slots:
    void initTestCase()
    {
        if (!X11KeyEventTap().inputMonitoringGranted())
            QSKIP("no X display (run under the test desktop)");
    }
    void cleanup() { setLayout({QStringLiteral("us")}); }

    void inputMonitoringGranted_unreachableDisplay_isFalse()
    {
        X11KeyEventTap tap(QByteArrayLiteral(":4242"));
        QVERIFY(!tap.inputMonitoringGranted());
        QVERIFY(!tap.create(KeyEventTap::Mode::listenOnly, {}));
    }

    // The role key is known by its place: stock keymaps put XF86Tools and nothing at all where F13 and F19 are.
    // (The role key alone and its timing are the interpreter's, checked on the fake tap.)
    void fnScheme_roleKey_recordsWithSpaceStaysHidden_data()
    {
        QTest::addColumn<FnRoleKey>("role");
        QTest::addColumn<unsigned>("place");
        QTest::newRow("Menu") << FnRoleKey::menu << 135U;
        QTest::newRow("F13") << FnRoleKey::f13 << 191U;
        QTest::newRow("F19") << FnRoleKey::f19 << 197U;
    }
    void fnScheme_roleKey_recordsWithSpaceStaysHidden()
    {
        QFETCH(FnRoleKey, role);
        QFETCH(unsigned, place);
        Rig r(HotkeyScheme::fn);
        r.tap.setFnRoleKey(role);
        QVERIFY(r.apply());
        QVERIFY(r.tap.inputMonitoringGranted()); // the running tap still counts as access
        QVERIFY(r.holding(KeyTap::keyFn) == true);
        // Space is held only while the role key is down (and the interpreter has seen it go up).
        QTRY_VERIFY(r.holding(KeyTap::keySpace) == false);
        r.field.code(place, true);
        QTRY_VERIFY(r.holding(KeyTap::keySpace) == true);
        r.field.tap(XK_space);
        r.field.tap(XK_x); // typed with Fn held: still reaches the application
        r.field.code(place, false);
        QTRY_COMPARE(r.host.calls, QStringList{QStringLiteral("action:record")});
        QTRY_VERIFY(r.holding(KeyTap::keySpace) == false);
        r.field.tap(XK_space);
        QVERIFY(r.field.arrived(XK_space));
        QCOMPARE(r.field.received(), (QList<KeySym>{XK_x, XK_space}));
    }

    // Modifier taps stay with the application; the role key's tap does not, or a GTK field opens its context
    // menu and loses the focus the text is meant for.
    void modifiersScheme_roleKeyTapStaysHidden()
    {
        Rig r(HotkeyScheme::modifiers);
        QVERIFY(r.apply());
        r.field.tap(XK_Menu);
        r.field.tap(XK_Control_L);
        r.field.tap(XK_space);
        QVERIFY(r.field.arrived(XK_space));
        QTRY_COMPARE(r.host.calls, (QStringList{QStringLiteral("action:record"), QStringLiteral("action:polish")}));
        QCOMPARE(r.field.received(), (QList<KeySym>{XK_Control_L, XK_space}));
    }

    // A binding recorded on a key fires on that key and no other, whatever the layout prints on it: the US Y
    // key prints Z in German, and the key that prints Y is another. Right Ctrl plays Fn, so Right Ctrl with the
    // key is Fn with it for the interpreter, though X sees Control: the grabbed press is no binding and is
    // replayed to the field.
    void customScheme_bindingFiresOnItsOwnKeyOnly()
    {
        QVERIFY(setLayout({QStringLiteral("de")}));
        Rig r(HotkeyScheme::custom);
        r.tap.setFnRoleKey(FnRoleKey::rightControl);
        r.host.record = HotkeyBinding{16, HotkeyBinding::control};
        QVERIFY(r.apply());
        QVERIFY(!r.service.isListenOnlyTap());
        QVERIFY(r.tap.grabbedCombos().contains(KeyCombo{16, HotkeyBinding::control, false}));
        r.field.chord({XK_Control_R}, kcY);
        r.field.tapCode(kcY);
        r.field.chord({XK_Control_L}, kcZ);
        r.field.chord({XK_Control_L}, kcY);
        r.field.tap(XK_space);
        QVERIFY(r.field.arrived(XK_space));
        // Events reach the interpreter in order: only the last chord fired, and it never reached the field.
        QTRY_COMPARE(r.host.calls, QStringList{QStringLiteral("action:record")});
        QList<KeySym> keys = r.field.received();
        keys.removeAll(XK_Control_R);
        QCOMPARE(keys, (QList<KeySym>{XK_z, XK_z, XK_Control_L, XK_y, XK_Control_L, XK_space}));
    }

    // Caps Lock and Num Lock on, with Num Lock where the keymap puts it (here moved from Mod2 to Mod3): the
    // binding and the role key are still held.
    void locks_onWhereverTheKeymapPutsThem()
    {
        Rig r(HotkeyScheme::custom);
        QVERIFY(r.field.ok());
        Display *d = r.field.display();
        XModifierKeymap *map = XGetModifierMapping(d);
        const KeyCode numLock = XKeysymToKeycode(d, XK_Num_Lock);
        map = XDeleteModifiermapEntry(map, numLock, Mod2MapIndex);
        map = XInsertModifiermapEntry(map, numLock, Mod3MapIndex);
        QCOMPARE(XSetModifierMapping(d, map), MappingSuccess);
        XFreeModifiermap(map);
        r.host.record = HotkeyBinding{40, HotkeyBinding::control};
        r.host.polish = HotkeyBinding{KeyTap::keyFn, 0};
        QVERIFY(r.apply());
        XkbLockModifiers(d, XkbUseCoreKbd, LockMask | Mod3Mask, LockMask | Mod3Mask);
        XSync(d, False);
        r.field.chord({XK_Control_L}, kcK);
        r.field.tap(XK_Menu);
        r.field.tap(XK_space);
        QVERIFY(r.field.arrived(XK_space));
        QTRY_COMPARE(r.host.calls, (QStringList{QStringLiteral("action:record"), QStringLiteral("action:polish")}));
        QList<KeySym> keys = r.field.received();
        keys.removeAll(XK_Control_L);
        QCOMPARE(keys, QList<KeySym>{XK_space});
        // Back to the usual place for the tests after this one.
        map = XGetModifierMapping(d);
        map = XDeleteModifiermapEntry(map, numLock, Mod3MapIndex);
        map = XInsertModifiermapEntry(map, numLock, Mod2MapIndex);
        XSetModifierMapping(d, map);
        XFreeModifiermap(map);
    }

    // Right Alt is Option on a US keymap and AltGr on a German one, followed through keymap changes and a group
    // switch while the tap runs. A German "@" (AltGr+Q) fires neither an Option+Q nor a plain Q binding and is
    // not lost; Alt+Q does fire and stays with the program; the role key stays where it is.
    void layoutAndGroupChanges_altGrIsNotOption()
    {
        Rig r(HotkeyScheme::custom);
        r.host.translate = HotkeyBinding{12, HotkeyBinding::option};
        r.host.record = HotkeyBinding{12, 0};
        r.host.polish = HotkeyBinding{KeyTap::keyFn, 0};
        QVERIFY(r.apply());
        const auto rightAltQ = [&r] {
            r.field.code(108, true);
            r.field.tapCode(kcQ);
            r.field.code(108, false);
        };
        const auto relayout = [&r](const QStringList &layout) {
            r.grabs.clear();
            return setLayout(layout) && r.grabs.wait(5000);
        };
        rightAltQ();
        QTRY_COMPARE(r.host.calls, QStringList{QStringLiteral("action:translate")});
        QVERIFY(relayout({QStringLiteral("de")}));
        rightAltQ();
        r.field.tap(XK_space);
        r.field.chord({XK_Alt_L}, kcQ);
        r.field.tap(XK_Menu);
        r.field.tap(XK_x);
        QVERIFY(r.field.arrived(XK_x));
        // In order: the AltGr chord fired nothing.
        QTRY_COMPARE(r.host.calls, (QStringList{QStringLiteral("action:translate"), QStringLiteral("action:translate"),
                                                QStringLiteral("action:polish")}));
        QList<KeySym> keys = r.field.received();
        for (const KeySym modifier : {XK_ISO_Level3_Shift, XK_Alt_L, XK_Alt_R})
            keys.removeAll(modifier);
        QCOMPARE(keys, (QList<KeySym>{XK_at, XK_space, XK_x}));
        // With "us,de", right Alt is Option in the first group and AltGr once the second is locked.
        QVERIFY(relayout({QStringLiteral("-layout"), QStringLiteral("us,de")}));
        rightAltQ();
        QTRY_COMPARE(r.host.calls.size(), 4);
        r.grabs.clear();
        XkbLockGroup(r.field.display(), XkbUseCoreKbd, 1);
        XSync(r.field.display(), False);
        QVERIFY(r.grabs.wait(5000));
        rightAltQ();
        r.field.tap(XK_Menu);
        QTRY_COMPARE(r.host.calls.last(), QStringLiteral("action:polish"));
        QCOMPARE(r.host.calls.size(), 5);
        QTRY_COMPARE(r.field.received().count(XK_at), 2);
    }

    // A binding of Alt alone fires on Alt's release, which the desktop sees too; the application under it
    // (its menu bar takes the keyboard on a bare Alt tap) must not take that tap for its own, so typing goes
    // on into its field. A real window manager places and focuses the window.
    void altAloneBinding_leavesTheMenuBarAlone()
    {
        Rig r(HotkeyScheme::custom);
        r.host.polish = HotkeyBinding{KeyTap::keyOption, 0};
        QVERIFY(r.apply());
        DesktopChild window(QStringLiteral(VOXLE_TEXT_TARGET), {QStringLiteral("menu")},
                            {{QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb")}});
        QVERIFY(window.waitFor(QStringLiteral("FOCUSED"), 10000));
        // Held as long as a person would: until the tap has had its say, which the window sees as another key.
        r.field.key(XK_Alt_L, true);
        QTRY_VERIFY(window.lines.filter(QStringLiteral("KEY:")).size() > window.lines.count(QStringLiteral("KEY:64")));
        r.field.key(XK_Alt_L, false);
        QTRY_COMPARE(r.host.calls, QStringList{QStringLiteral("action:polish")});
        r.field.tap(XK_x);
        QVERIFY(window.waitFor(QStringLiteral("TEXT:x")));
        QVERIFY(!window.lines.contains(QStringLiteral("MENUBAR")));
        // Without the binding, the same tap does open the menu bar: the window shows what it is meant to.
        r.host.polish.reset();
        QVERIFY(r.apply());
        r.field.tap(XK_Alt_L);
        QVERIFY(window.waitFor(QStringLiteral("MENUBAR")));
    }

    // The keyboard never waits for the program: with the main thread stuck in slow work right after a grabbed
    // press, keys typed into another window arrive at once.
    void grabbedPress_mainThreadBusy_keyboardKeepsGoing()
    {
        Rig r(HotkeyScheme::custom);
        r.host.record = HotkeyBinding{96, 0}; // F5
        QVERIFY(r.apply());
        r.host.onAction = [] { QThread::msleep(1500); };

        std::atomic<qint64> delayMs{-1};
        std::atomic<bool> boundKeyArrived{false};
        std::thread typist([&] {
            FocusedField other;
            other.tapCode(kcF5);
            QElapsedTimer clock;
            clock.start();
            other.tapCode(kcA);
            while (clock.elapsed() < 5000 && !other.received().contains(XK_a))
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            if (other.received().contains(XK_a))
                delayMs = clock.elapsed();
            boundKeyArrived = other.received().contains(XK_F5);
        });
        QTRY_COMPARE(r.host.calls, QStringList{QStringLiteral("action:record")});
        typist.join();
        QVERIFY(delayMs >= 0);
        QVERIFY2(delayMs < 500, qPrintable(QString::number(delayMs)));
        QVERIFY(!boundKeyArrived);
    }
};

QTEST_GUILESS_MAIN(TestX11KeyEventTap)
#include "tst_X11KeyEventTap.moc"
