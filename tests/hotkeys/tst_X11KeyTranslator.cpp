#include "base/VoxleTypes.h"
#include "platform/linux/X11KeyTranslator.h"

#include <QTest>
#include <X11/keysym.h>

using namespace KeyTap;

namespace {
// X key codes as the usual evdev keymap numbers them; the translator only uses them for identity.
constexpr quint32 kcA = 38, kcSpace = 65, kcShiftL = 50, kcShiftR = 62, kcCtrlL = 37, kcCtrlR = 105, kcMenu = 135,
                  kcCaps = 66, kcF13 = 191, kcSuperL = 133, kcAltR = 108;

KeyTapEvent ev(int type, quint16 code, quint64 flags, bool repeat = false)
{
    return KeyTapEvent{type, code, flags, repeat};
}
} // namespace

class TestX11KeyTranslator : public QObject
{
    Q_OBJECT
private slots:
    void press_ordinaryKey_downRepeatUp()
    {
        X11KeyTranslator t;
        QCOMPARE(t.press(kcA, XK_a), ev(keyDown, keyA, 0));
        QCOMPARE(t.press(kcA, XK_a), ev(keyDown, keyA, 0, true));
        QCOMPARE(t.release(kcA, XK_a), ev(keyUp, keyA, 0));
        QCOMPARE(t.press(kcA, XK_a), ev(keyDown, keyA, 0));
    }

    void press_modifiers_becomeFlagsChangedWithBothSidesTracked()
    {
        X11KeyTranslator t;
        QCOMPARE(t.press(kcShiftL, XK_Shift_L), ev(flagsChanged, keyShift, flagShift));
        QCOMPARE(t.press(kcShiftR, XK_Shift_R), ev(flagsChanged, keyRightShift, flagShift));
        // A held modifier's repeat changes nothing.
        QCOMPARE(t.press(kcShiftR, XK_Shift_R), std::nullopt);
        QCOMPARE(t.release(kcShiftL, XK_Shift_L), ev(flagsChanged, keyShift, flagShift));
        QCOMPARE(t.press(kcSuperL, XK_Super_L), ev(flagsChanged, keyCommand, flagShift | flagCommand));
        QCOMPARE(t.press(kcSpace, XK_space), ev(keyDown, keySpace, flagShift | flagCommand));
        QCOMPARE(t.release(kcShiftR, XK_Shift_R), ev(flagsChanged, keyRightShift, flagCommand));
        QCOMPARE(t.press(kcAltR, XK_ISO_Level3_Shift), ev(flagsChanged, keyRightOption, flagCommand | flagOption));
    }

    void press_fnRoleKey_playsFnAndFreesItsOwnMeaning()
    {
        X11KeyTranslator t;
        QCOMPARE(t.press(kcMenu, XK_Menu), ev(flagsChanged, keyFn, flagFn));
        QCOMPARE(t.press(kcSpace, XK_space), ev(keyDown, keySpace, flagFn));
        QCOMPARE(t.release(kcMenu, XK_Menu), ev(flagsChanged, keyFn, 0));

        t.setFnRoleKey(FnRoleKey::rightControl);
        QCOMPARE(t.press(kcCtrlR, XK_Control_R), ev(flagsChanged, keyFn, flagFn));
        QCOMPARE(t.press(kcCtrlL, XK_Control_L), ev(flagsChanged, keyControl, flagFn | flagControl));
        // Menu is no longer the role key: a key the Mac lacks, still reported.
        QCOMPARE(t.press(kcMenu, XK_Menu),
                 ev(keyDown, X11KeyTranslator::unmappedKeyCodeBase + kcMenu, flagFn | flagControl));

        t.setFnRoleKey(FnRoleKey::f13);
        t.reset();
        QCOMPARE(t.press(kcF13, XK_F13), ev(flagsChanged, keyFn, flagFn));
        QCOMPARE(t.keysymsForMacKeyCode(keyFn), QList<quint32>{XK_F13});
    }

    void press_capsLock_togglesFlagOnPressOnly()
    {
        X11KeyTranslator t;
        t.setCapsLockOn(true);
        QCOMPARE(t.press(kcA, XK_a), ev(keyDown, keyA, flagCapsLock));
        QCOMPARE(t.press(kcCaps, XK_Caps_Lock), ev(flagsChanged, keyCapsLock, 0));
        QCOMPARE(t.release(kcCaps, XK_Caps_Lock), std::nullopt);
        QCOMPARE(t.press(kcCaps, XK_Caps_Lock), ev(flagsChanged, keyCapsLock, flagCapsLock));
        // As the role key it is Fn and flips nothing.
        t.release(kcCaps, XK_Caps_Lock);
        t.setFnRoleKey(FnRoleKey::capsLock);
        QCOMPARE(t.press(kcCaps, XK_Caps_Lock), ev(flagsChanged, keyFn, flagCapsLock | flagFn));
    }

    void macKeyCodeForKeysym_everyNamedPcKey_roundTrips()
    {
        X11KeyTranslator t;
        int named = 0;
        for (quint16 code = 0; code < 128; ++code) {
            if (code == keyFn || keyName(code).startsWith(QLatin1String("KeyCode(")))
                continue;
            ++named;
            const QList<quint32> syms = t.keysymsForMacKeyCode(code);
            QVERIFY2(!syms.isEmpty(), qPrintable(keyName(code)));
            for (const quint32 sym : syms)
                QCOMPARE(X11KeyTranslator::macKeyCodeForKeysym(sym), std::optional<quint16>(code));
        }
        QCOMPARE(named, 75);
        // Keysyms as reported with Shift held name the same keys.
        QCOMPARE(X11KeyTranslator::macKeyCodeForKeysym(XK_K), std::optional<quint16>(40));
        QCOMPARE(X11KeyTranslator::macKeyCodeForKeysym(XK_exclam), std::optional<quint16>(18));
        QCOMPARE(X11KeyTranslator::macKeyCodeForKeysym(XK_question), std::optional<quint16>(44));
        QCOMPARE(X11KeyTranslator::macKeyCodeForKeysym(XK_Menu), std::nullopt);
    }

    void fnRoleKeys_idsAreStableAndParse()
    {
        const QList<FnRoleKey> keys = FnRoleKeys::all();
        QCOMPARE(keys.size(), 15);
        QCOMPARE(keys.first(), FnRoleKey::menu);
        QCOMPARE(FnRoleKeys::id(FnRoleKey::rightAlt), QStringLiteral("right_alt"));
        QCOMPARE(FnRoleKeys::id(FnRoleKey::f20), QStringLiteral("f20"));
        for (const FnRoleKey key : keys) {
            QCOMPARE(FnRoleKeys::parse(FnRoleKeys::id(key)), std::optional<FnRoleKey>(key));
            QVERIFY(!X11KeyTranslator::fnRoleKeysyms(key).isEmpty());
        }
        QCOMPARE(FnRoleKeys::parse(QStringLiteral("Menu")), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestX11KeyTranslator)
#include "tst_X11KeyTranslator.moc"
