// The real X11 tap and the interpreter together, driven by XTest key presses on the test display, with a
// plain X window holding the focus to show what reaches an application.
#include "FakeHotkeyHost.h"
#include "QuietDebugEvents.h"
#include "hotkeys/GlobalHotkeyService.h"
#include "platform/fake/ManualClock.h"
#include "platform/linux/X11KeyEventTap.h"

#include <QSet>
#include <QTest>
#include <memory>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {
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
            QTest::qWait(10);
        }
        XSetInputFocus(m_display, m_window, RevertToParent, CurrentTime);
        XSync(m_display, False);
        received(); // drop anything from before
    }
    ~FocusedField()
    {
        if (m_display) {
            // A failed check must not leave a key held for the next test.
            for (const KeySym sym : std::as_const(m_held))
                XTestFakeKeyEvent(m_display, XKeysymToKeycode(m_display, sym), False, CurrentTime);
            XDestroyWindow(m_display, m_window);
            XCloseDisplay(m_display);
        }
    }
    bool ok() const { return m_display != nullptr; }

    void key(KeySym sym, bool down)
    {
        XTestFakeKeyEvent(m_display, XKeysymToKeycode(m_display, sym), down ? True : False, CurrentTime);
        XSync(m_display, False);
        m_held.remove(sym);
        if (down)
            m_held.insert(sym);
    }
    void tap(KeySym sym)
    {
        key(sym, true);
        key(sym, false);
    }

    // Keysyms (first level) of the key presses that reached the window so far, in order.
    QList<KeySym> received()
    {
        XSync(m_display, False);
        while (XPending(m_display) > 0) {
            XEvent ev;
            XNextEvent(m_display, &ev);
            if (ev.type == KeyPress)
                m_keys << XLookupKeysym(&ev.xkey, 0);
        }
        return m_keys;
    }

private:
    Display *m_display = nullptr;
    Window m_window = 0;
    QList<KeySym> m_keys;
    QSet<KeySym> m_held;
};

struct Rig {
    ManualClock clock;
    FakeHotkeyHost host;
    X11KeyEventTap tap;
    GlobalHotkeyService service{host, tap, clock};
    FocusedField field;

    explicit Rig(HotkeyScheme scheme) { host.scheme = scheme; }
};

bool holds(const QList<KeyCombo> &combos, quint16 keyCode)
{
    return std::any_of(combos.begin(), combos.end(), [keyCode](const KeyCombo &c) { return c.keyCode == keyCode; });
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

    void inputMonitoringGranted_unreachableDisplay_isFalse()
    {
        X11KeyEventTap tap(QByteArrayLiteral(":4242"));
        QVERIFY(!tap.inputMonitoringGranted());
        QVERIFY(!tap.create(KeyEventTap::Mode::listenOnly, {}));
    }

    void modifiersScheme_controlTap_firesControlAction()
    {
        Rig r(HotkeyScheme::modifiers);
        QVERIFY(r.field.ok());
        r.service.start();
        QVERIFY(r.service.isListenOnlyTap());
        r.field.tap(XK_Control_L);
        QTRY_COMPARE(r.host.calls, QStringList{QStringLiteral("action:polish")});
        // A spoiled tap fires nothing; the typed key reaches the application.
        r.field.key(XK_Control_L, true);
        r.field.tap(XK_b);
        r.field.key(XK_Control_L, false);
        r.field.tap(XK_Super_L);
        QTRY_COMPARE(r.host.calls, (QStringList{QStringLiteral("action:polish"), QStringLiteral("action:translate")}));
        QTRY_VERIFY(r.field.received().contains(XK_b));
    }

    void customScheme_binding_firesAndNeverReachesField()
    {
        // Right Ctrl plays Fn, so Right Ctrl + K is Fn + K for the interpreter, though X sees Control + K: the
        // grabbed press is no binding and is replayed to the field.
        Rig r(HotkeyScheme::custom);
        QVERIFY(r.field.ok());
        r.tap.setFnRoleKey(FnRoleKey::rightControl);
        r.host.record = HotkeyBinding{40, HotkeyBinding::control};
        r.service.start();
        QVERIFY(!r.service.isListenOnlyTap());
        QTRY_VERIFY(r.tap.grabbedCombos().contains(KeyCombo{40, HotkeyBinding::control, false}));
        for (const KeySym control : {XK_Control_R, XK_Control_L}) {
            r.field.key(control, true);
            r.field.tap(XK_k);
            r.field.key(control, false);
        }
        r.field.tap(XK_k); // plain K is not the binding and must pass
        r.field.tap(XK_a); // a barrier: everything before it has arrived
        QTRY_COMPARE(r.host.calls, QStringList{QStringLiteral("action:record")});
        QTRY_VERIFY(r.field.received().contains(XK_a));
        // Left Control went through, the bound Control+K did not.
        QList<KeySym> keys = r.field.received();
        keys.removeAll(XK_Control_R);
        QCOMPARE(keys, (QList<KeySym>{XK_k, XK_Control_L, XK_k, XK_a}));
    }

    void fnScheme_roleKeyAlone_firesPolishAfterDelayAndStaysHidden()
    {
        Rig r(HotkeyScheme::fn);
        QVERIFY(r.field.ok());
        r.service.start();
        QTRY_VERIFY(holds(r.tap.grabbedCombos(), KeyTap::keyFn));
        r.field.tap(XK_Menu);
        QTRY_COMPARE(r.clock.pendingTimers(), 1);
        QVERIFY(r.host.calls.isEmpty());
        r.clock.advance(60);
        QCOMPARE(r.host.calls, QStringList{QStringLiteral("action:polish")});
        r.field.tap(XK_a);
        QTRY_VERIFY(r.field.received().contains(XK_a));
        QVERIFY(!r.field.received().contains(XK_Menu));
    }

    void fnScheme_roleKeyPlusSpace_recordsAndSwallowsSpace()
    {
        Rig r(HotkeyScheme::fn);
        QVERIFY(r.field.ok());
        r.service.start();
        r.field.key(XK_Menu, true);
        // Space is held only while the Fn key is down.
        QTRY_VERIFY(holds(r.tap.grabbedCombos(), KeyTap::keySpace));
        r.field.tap(XK_space);
        r.field.tap(XK_x); // typed with Fn held: still reaches the application
        r.field.key(XK_Menu, false);
        QTRY_COMPARE(r.host.calls, QStringList{QStringLiteral("action:record")});
        QTRY_VERIFY(!holds(r.tap.grabbedCombos(), KeyTap::keySpace));
        r.field.tap(XK_space);
        QTRY_COMPARE(r.field.received(), (QList<KeySym>{XK_x, XK_space}));
        QCOMPARE(r.clock.pendingTimers(), 0);
        // The swallowed Space's release was seen, so a second Fn + Space is a fresh press again.
        r.field.key(XK_Menu, true);
        QTRY_VERIFY(holds(r.tap.grabbedCombos(), KeyTap::keySpace));
        r.field.tap(XK_space);
        r.field.key(XK_Menu, false);
        QTRY_COMPARE(r.host.calls, (QStringList{QStringLiteral("action:record"), QStringLiteral("action:record")}));
        QCOMPARE(r.field.received(), (QList<KeySym>{XK_x, XK_space}));
    }
};

QTEST_GUILESS_MAIN(TestX11KeyEventTap)
#include "tst_X11KeyEventTap.moc"
