// The capture sheet on a real X display, fed by XTest key presses: the binding must name the physical key by
// its first-level keysym, exactly as the global X11 tap will see it later.
#include "app/pages/HotkeyCaptureSheet.h"
#include "platform/fake/FakeWindowKeyTranslator.h"
#include "platform/linux/X11WindowKeyTranslator.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#undef KeyRelease // Xlib's event number, not QEvent's

namespace {
using Binding = std::optional<HotkeyBinding>;
// X key events: a keysym pressed (positive) or released (negated).
using Syms = QList<long>;
} // namespace
Q_DECLARE_METATYPE(Binding)
Q_DECLARE_METATYPE(Syms)

class TestHotkeyCaptureX11 : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QStringLiteral("xcb"))
            QSKIP("needs an X display");
    }

    // `keys` up to `decisive` leave the sheet waiting and showing the `held` modifiers; the rest decides. The
    // sheet reads keys with the Fn role key it was given.
    void keys_nameThePhysicalKey_data()
    {
        QTest::addColumn<Syms>("keys");
        QTest::addColumn<int>("decisive");
        QTest::addColumn<QString>("held");
        QTest::addColumn<int>("role");
        QTest::addColumn<Binding>("binding");
        const int menu = int(FnRoleKeys::defaultKey);
        // Qt reports "!" for shifted 1; the binding names the "1" key (18) with Shift.
        QTest::newRow("shifted digit") << Syms{XK_Shift_L, XK_1, -XK_1, -XK_Shift_L} << 1 << QStringLiteral("⇧") << menu
                                       << Binding(HotkeyBinding{18, HotkeyBinding::shift});
        QTest::newRow("menu plays Fn") << Syms{XK_Menu, -XK_Menu} << 1 << QStringLiteral("无") << menu
                                       << Binding(HotkeyBinding{63, 0});
        QTest::newRow("right ctrl chosen as Fn") << Syms{XK_Control_R, -XK_Control_R} << 1 << QStringLiteral("无")
                                                 << int(FnRoleKey::rightControl) << Binding(HotkeyBinding{63, 0});
        QTest::newRow("escape under modifiers cancels")
            << Syms{XK_Control_L, XK_Alt_L, XK_Escape, -XK_Escape} << 2 << QStringLiteral("⌃ ⌥") << menu << Binding();
    }
    void keys_nameThePhysicalKey()
    {
        QFETCH(Syms, keys);
        QFETCH(int, decisive);
        QFETCH(QString, held);
        QFETCH(int, role);
        QFETCH(Binding, binding);
        // XTest key events over a connection of our own; whatever a failed check left held is let go.
        Display *display = XOpenDisplay(nullptr);
        QVERIFY(display);
        QSet<KeySym> down;
        const auto key = [&](KeySym sym, bool press) {
            XTestFakeKeyEvent(display, XKeysymToKeycode(display, sym), press ? True : False, CurrentTime);
            XSync(display, False);
            if (press)
                down.insert(sym);
            else
                down.remove(sym);
        };
        const auto releaseHeld = qScopeGuard([&] {
            for (const KeySym sym : QSet<KeySym>(down))
                key(sym, false);
            XCloseDisplay(display);
        });
        HotkeyCaptureSheet sheet{QStringLiteral("设置语音输入热键"),
                                 QStringLiteral("按下你想要的按键。松开确认；ESC 取消。"),
                                 X11WindowKeyTranslator::create(FnRoleKey(role))};
        sheet.open();
        sheet.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&sheet));
        QVERIFY(QTest::qWaitFor([&] { return sheet.captureView()->hasFocus(); }));
        // On a busy machine a key may be read after the pause: the checks wait for it.
        for (int i = 0; i < keys.size(); ++i) {
            if (i == decisive) {
                QTRY_COMPARE(sheet.modifiersLabel()->text(), held);
                QCOMPARE(sheet.capturedBinding(), std::nullopt);
            }
            key(KeySym(std::abs(keys[i])), keys[i] > 0);
            QTest::qWait(30); // lets the application's connection read and dispatch it
        }
        QTRY_VERIFY(!sheet.isVisible());
        QCOMPARE(sheet.capturedBinding(), binding);
        QCOMPARE(sheet.result(), int(binding ? QDialog::Accepted : QDialog::Rejected));
    }

    // The sheet reads each key once: never the release half of a repeat, nothing after the capture. Its cancel
    // button rejects without a binding.
    void keys_readOnceUntilCapturedAndCancelRejects()
    {
        auto translator = std::make_unique<FakeWindowKeyTranslator>();
        FakeWindowKeyTranslator &keys = *translator;
        keys.script = {KeyTapEvent{KeyTap::keyDown, 40, 0, false}};
        HotkeyCaptureSheet sheet(QStringLiteral("t"), QStringLiteral("s"), std::move(translator));
        sheet.open();
        QKeyEvent repeatRelease(QEvent::KeyRelease, Qt::Key_J, Qt::NoModifier, QString(), true);
        QCoreApplication::sendEvent(sheet.captureView(), &repeatRelease);
        QTest::keyPress(sheet.captureView(), Qt::Key_K);
        QTest::keyPress(sheet.captureView(), Qt::Key_L);
        QCOMPARE(keys.keys.size(), 1);
        QCOMPARE(keys.keys.first().qtKey, int(Qt::Key_K));
        QCOMPARE(sheet.capturedBinding(), Binding(HotkeyBinding{40, 0}));

        HotkeyCaptureSheet cancelled(QStringLiteral("t"), QStringLiteral("s"),
                                     std::make_unique<FakeWindowKeyTranslator>());
        cancelled.open();
        cancelled.cancelButton()->click();
        QCOMPARE(cancelled.result(), int(QDialog::Rejected));
        QCOMPARE(cancelled.capturedBinding(), std::nullopt);
        QVERIFY(!cancelled.isVisible());
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
