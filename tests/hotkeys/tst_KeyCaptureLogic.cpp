#include "KeyEvents.h"
#include "hotkeys/FnRoleKeyPreference.h"
#include "hotkeys/KeyCaptureLogic.h"
#include "platform/fake/FakeUserDefaults.h"

#include <QTest>

using namespace KeyTap;

class TestKeyCaptureLogic : public QObject
{
    Q_OBJECT
private slots:
    // Every key-down report the sheet would get; the sheet takes the first (Escape cancels).
    void handle_data()
    {
        QTest::addColumn<QList<KeyTapEvent>>("events");
        QTest::addColumn<QList<HotkeyBinding>>("reported");
        QTest::addColumn<QString>("shown"); // the sheet's modifier display at the end
        const quint64 cmd = flagCommand, ctl = flagControl;
        QTest::newRow("shift released under command")
            << QList{flags(keyCommand, cmd), flags(keyShift, cmd | flagShift), flags(keyShift, cmd),
                     flags(keyCommand, 0)}
            << QList{HotkeyBinding{keyShift, HotkeyBinding::command}, HotkeyBinding{keyCommand, 0}}
            << QStringLiteral("无");
        // Shown in a fixed order whatever the order of the presses; Fn is no modifier of a binding.
        const quint64 all = cmd | ctl | flagShift | flagOption | flagFn;
        QTest::newRow("escape under every modifier")
            << QList{flags(keyCommand, cmd), flags(keyShift, cmd | flagShift), flags(keyOption, cmd | flagShift | flagOption),
                     flags(keyControl, all), down(keyEscape, all)}
            << QList{HotkeyBinding{keyEscape, HotkeyBinding::command | HotkeyBinding::shift | HotkeyBinding::option |
                                                  HotkeyBinding::control}}
            << QStringLiteral("⌃ ⌥ ⇧ ⌘");
        QTest::newRow("caps lock") << QList{flags(keyCapsLock, flagCapsLock), flags(keyCapsLock, 0)}
                                   << QList<HotkeyBinding>{} << QStringLiteral("无");
    }
    void handle()
    {
        QFETCH(QList<KeyTapEvent>, events);
        QFETCH(QList<HotkeyBinding>, reported);
        QFETCH(QString, shown);
        KeyCaptureLogic logic;
        QList<HotkeyBinding> seen;
        QStringList display;
        logic.onKeyDown = [&seen](quint16 keyCode, int modifiers, bool) { seen << HotkeyBinding{keyCode, modifiers}; };
        logic.onFlagsChanged = [&display](int m) { display << KeyCaptureLogic::modifierSymbols(m); };
        for (const KeyTapEvent &e : events)
            logic.handle(e);
        QCOMPARE(seen, reported);
        // The sheet's modifier display follows every flags change.
        QCOMPARE(display.value(display.size() - 1), shown);
    }

    void fnRoleKeyPreference_stableIdWithMenuForAnythingElse()
    {
        FakeUserDefaults d;
        QCOMPARE(FnRoleKeyPreference::read(d), FnRoleKey::menu);
        d.setNumber(QStringLiteral("fn_role_key"), 3);
        QCOMPARE(FnRoleKeyPreference::read(d), FnRoleKey::menu);
        d.setString(QStringLiteral("fn_role_key"), QStringLiteral("right ctrl"));
        QCOMPARE(FnRoleKeyPreference::read(d), FnRoleKey::menu);
        FnRoleKeyPreference::write(d, FnRoleKey::rightControl);
        QCOMPARE(d.values.value(QStringLiteral("fn_role_key")), QVariant(QStringLiteral("right_ctrl")));
        QCOMPARE(FnRoleKeyPreference::read(d), FnRoleKey::rightControl);
    }
};

QTEST_GUILESS_MAIN(TestKeyCaptureLogic)
#include "tst_KeyCaptureLogic.moc"
