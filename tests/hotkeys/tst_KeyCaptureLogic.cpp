#include "hotkeys/KeyCaptureLogic.h"

#include <QTest>

using namespace KeyTap;

namespace {
// Plays the sheet: the first key down ends the capture (Escape cancels), later calls are ignored.
struct Sheet {
    KeyCaptureLogic logic;
    std::optional<HotkeyBinding> captured;
    bool cancelled = false;
    int keyDownCalls = 0;
    QString shownModifiers = KeyCaptureLogic::modifierSymbols(0);

    Sheet()
    {
        logic.onFlagsChanged = [this](int modifiers) { shownModifiers = KeyCaptureLogic::modifierSymbols(modifiers); };
        logic.onKeyDown = [this](quint16 keyCode, int modifiers, bool) {
            ++keyDownCalls;
            if (captured || cancelled)
                return;
            if (keyCode == keyEscape)
                cancelled = true;
            else
                captured = HotkeyBinding{keyCode, modifiers};
        };
    }
};
} // namespace

class TestKeyCaptureLogic : public QObject
{
    Q_OBJECT
private slots:
    void flagsChanged_fnAlone_capturesFnWithoutModifiers()
    {
        Sheet s;
        s.logic.flagsChanged(keyFn, flagFn);
        QVERIFY(!s.captured);
        s.logic.flagsChanged(keyFn, 0);
        QCOMPARE(s.captured, (HotkeyBinding{keyFn, 0}));
    }

    void flagsChanged_shiftReleasedUnderCommand_capturesShiftWithCommand()
    {
        Sheet s;
        s.logic.flagsChanged(keyCommand, flagCommand);
        s.logic.flagsChanged(keyShift, flagCommand | flagShift);
        QCOMPARE(s.shownModifiers, QStringLiteral("⇧ ⌘"));
        s.logic.flagsChanged(keyShift, flagCommand);
        QCOMPARE(s.captured, (HotkeyBinding{keyShift, HotkeyBinding::command}));
        s.logic.flagsChanged(keyCommand, 0);
        QCOMPARE(s.captured, (HotkeyBinding{keyShift, HotkeyBinding::command}));
        QCOMPARE(s.shownModifiers, QStringLiteral("无"));
    }

    void keyDown_withCommand_capturesBeforeRelease()
    {
        Sheet s;
        s.logic.flagsChanged(keyCommand, flagCommand);
        s.logic.keyDown(40, flagCommand);
        QCOMPARE(s.captured, (HotkeyBinding{40, HotkeyBinding::command}));
    }

    void keyDown_thenModifierRelease_capturesNothingMore()
    {
        Sheet s;
        s.logic.flagsChanged(keyControl, flagControl);
        s.logic.keyDown(keyA, flagControl);
        s.logic.flagsChanged(keyControl, 0);
        QCOMPARE(s.captured, (HotkeyBinding{keyA, HotkeyBinding::control}));
        QCOMPARE(s.keyDownCalls, 1);
        // A new modifier press starts afresh.
        s.logic.flagsChanged(keyOption, flagOption);
        s.logic.flagsChanged(keyOption, 0);
        QCOMPARE(s.keyDownCalls, 2);
    }

    void keyDown_escapeUnderModifiers_cancels()
    {
        Sheet s;
        s.logic.flagsChanged(keyControl, flagControl);
        s.logic.flagsChanged(keyShift, flagControl | flagShift);
        s.logic.handle(KeyTapEvent{KeyTap::keyDown, keyEscape, flagControl | flagShift, false});
        QVERIFY(s.cancelled);
        QVERIFY(!s.captured);
    }

    void flagsChanged_capsLock_changesNothing()
    {
        Sheet s;
        s.logic.flagsChanged(keyCapsLock, flagCapsLock);
        s.logic.flagsChanged(keyCapsLock, 0);
        QCOMPARE(s.keyDownCalls, 0);
        QCOMPARE(s.shownModifiers, QStringLiteral("无"));
    }

    void modifierSymbols_allHeld_inFixedOrder()
    {
        QCOMPARE(KeyCaptureLogic::modifiersFromFlags(flagCommand | flagOption | flagControl | flagShift | flagFn), 15);
        QCOMPARE(KeyCaptureLogic::modifierSymbols(15), QStringLiteral("⌃ ⌥ ⇧ ⌘"));
    }
};

QTEST_GUILESS_MAIN(TestKeyCaptureLogic)
#include "tst_KeyCaptureLogic.moc"
