#include "hotkeys/KeyCaptureLogic.h"

#include <QTest>

using namespace KeyTap;

namespace {
KeyTapEvent flags(quint16 key, quint64 f)
{
    return KeyTapEvent{flagsChanged, key, f, false};
}
KeyTapEvent down(quint16 key, quint64 f)
{
    return KeyTapEvent{keyDown, key, f, false};
}
} // namespace

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
        QTest::newRow("fn alone on release")
            << QList{flags(keyFn, flagFn), flags(keyFn, 0)} << QList{HotkeyBinding{keyFn, 0}} << QStringLiteral("无");
        QTest::newRow("shift released under command")
            << QList{flags(keyCommand, cmd), flags(keyShift, cmd | flagShift), flags(keyShift, cmd),
                     flags(keyCommand, 0)}
            << QList{HotkeyBinding{keyShift, HotkeyBinding::command}, HotkeyBinding{keyCommand, 0}}
            << QStringLiteral("无");
        QTest::newRow("key with command, before release")
            << QList{flags(keyCommand, cmd), down(40, cmd)} << QList{HotkeyBinding{40, HotkeyBinding::command}}
            << QStringLiteral("⌘");
        // Nothing more on the modifier's release; a new modifier press starts afresh.
        QTest::newRow("key then modifier release")
            << QList{flags(keyControl, ctl),
                     down(keyA, ctl),
                     KeyTapEvent{keyUp, keyA, ctl, false},
                     flags(keyControl, 0),
                     flags(keyOption, flagOption),
                     flags(keyOption, 0)}
            << QList{HotkeyBinding{keyA, HotkeyBinding::control}, HotkeyBinding{keyOption, 0}} << QStringLiteral("无");
        QTest::newRow("escape under modifiers")
            << QList{flags(keyControl, ctl), flags(keyShift, ctl | flagShift), down(keyEscape, ctl | flagShift)}
            << QList{HotkeyBinding{keyEscape, HotkeyBinding::control | HotkeyBinding::shift}} << QStringLiteral("⌃ ⇧");
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

    void modifierSymbols_inFixedOrder()
    {
        QCOMPARE(KeyCaptureLogic::modifiersFromFlags(flagCommand | flagOption | flagControl | flagShift | flagFn), 15);
        QCOMPARE(KeyCaptureLogic::modifierSymbols(15), QStringLiteral("⌃ ⌥ ⇧ ⌘"));
        QCOMPARE(KeyCaptureLogic::modifierSymbols(HotkeyBinding::command | HotkeyBinding::shift),
                 QStringLiteral("⇧ ⌘"));
        QCOMPARE(KeyCaptureLogic::modifierSymbols(0), QStringLiteral("无"));
    }
};

QTEST_GUILESS_MAIN(TestKeyCaptureLogic)
#include "tst_KeyCaptureLogic.moc"
