// The capture sheet on a real X display, fed by XTest key presses: the binding must name the physical key by
// its first-level keysym, exactly as the global X11 tap will see it later.
#include "app/HotkeyCaptureSheet.h"

#include <QApplication>
#include <QTest>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {
// Sends XTest key events over a connection of its own and releases whatever a failed check left held.
class XTestKeyboard
{
public:
    XTestKeyboard() : m_display(XOpenDisplay(nullptr)) {}
    ~XTestKeyboard()
    {
        if (!m_display)
            return;
        for (const KeySym sym : std::as_const(m_held))
            XTestFakeKeyEvent(m_display, XKeysymToKeycode(m_display, sym), False, CurrentTime);
        XSync(m_display, False);
        XCloseDisplay(m_display);
    }
    bool ok() const { return m_display != nullptr; }
    void key(KeySym sym, bool down)
    {
        XTestFakeKeyEvent(m_display, XKeysymToKeycode(m_display, sym), down ? True : False, CurrentTime);
        XSync(m_display, False);
        if (down)
            m_held.insert(sym);
        else
            m_held.remove(sym);
        // Let the application's connection read and dispatch it.
        QTest::qWait(30);
    }

private:
    Display *m_display;
    QSet<KeySym> m_held;
};

struct Rig {
    XTestKeyboard keyboard;
    HotkeyCaptureSheet sheet{QStringLiteral("设置语音输入热键"),
                             QStringLiteral("按下你想要的按键。松开确认；ESC 取消。")};

    bool open()
    {
        sheet.open();
        sheet.activateWindow();
        return QTest::qWaitForWindowActive(&sheet) &&
               QTest::qWaitFor([this]() { return sheet.captureView()->hasFocus(); });
    }
};
} // namespace

class TestHotkeyCaptureX11 : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QStringLiteral("xcb"))
            QSKIP("needs an X display");
    }

    void ordinaryKey_shiftedDigitIsStillItsKey()
    {
        Rig rig;
        QVERIFY(rig.keyboard.ok());
        QVERIFY(rig.open());
        rig.keyboard.key(XK_Shift_L, true);
        QCOMPARE(rig.sheet.currentModifiers(), int(HotkeyBinding::shift));
        // Qt reports "!" here; the binding names the "1" key (18) with Shift.
        rig.keyboard.key(XK_1, true);
        QCOMPARE(rig.sheet.capturedBinding(), std::optional(HotkeyBinding{18, HotkeyBinding::shift}));
        rig.keyboard.key(XK_1, false);
        rig.keyboard.key(XK_Shift_L, false);
    }

    void ordinaryKey_withControlAndSuper()
    {
        Rig rig;
        QVERIFY(rig.keyboard.ok());
        QVERIFY(rig.open());
        rig.keyboard.key(XK_Control_L, true);
        rig.keyboard.key(XK_Super_L, true);
        QCOMPARE(rig.sheet.currentModifiers(), int(HotkeyBinding::control | HotkeyBinding::command));
        rig.keyboard.key(XK_k, true);
        QCOMPARE(rig.sheet.capturedBinding(),
                 std::optional(HotkeyBinding{40, HotkeyBinding::control | HotkeyBinding::command}));
        rig.keyboard.key(XK_k, false);
        rig.keyboard.key(XK_Super_L, false);
        rig.keyboard.key(XK_Control_L, false);
    }

    void modifierAlone_rightAltOnRelease()
    {
        Rig rig;
        QVERIFY(rig.keyboard.ok());
        QVERIFY(rig.open());
        rig.keyboard.key(XK_Alt_R, true);
        QCOMPARE(rig.sheet.capturedBinding(), std::nullopt);
        rig.keyboard.key(XK_Alt_R, false);
        QCOMPARE(rig.sheet.capturedBinding(), std::optional(HotkeyBinding{61, 0}));
    }

    void escape_cancels()
    {
        Rig rig;
        QVERIFY(rig.keyboard.ok());
        QVERIFY(rig.open());
        rig.keyboard.key(XK_Escape, true);
        rig.keyboard.key(XK_Escape, false);
        QCOMPARE(rig.sheet.result(), int(QDialog::Rejected));
        QVERIFY(!rig.sheet.isVisible());
        QCOMPARE(rig.sheet.capturedBinding(), std::nullopt);
    }
};

int main(int argc, char **argv)
{
    // Real key events need the X platform; without a display the test skips itself.
    if (qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    TestHotkeyCaptureX11 test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_HotkeyCaptureX11.moc"
