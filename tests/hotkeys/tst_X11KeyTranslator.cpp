#include "base/VoxleTypes.h"
#include "platform/linux/X11KeyTranslator.h"

#include <QTest>
#include <X11/keysym.h>

using namespace KeyTap;

namespace {
// X key codes as the evdev keymap numbers the places of a PC keyboard.
constexpr quint32 kcQ = 24, kcY = 29, kcA = 38, kcSpace = 65, kcShiftL = 50, kcShiftR = 62, kcCtrlR = 105, kcMenu = 135,
                  kcCaps = 66, kcSuperL = 133, kcAltR = 108, kcLessGreater = 94, kcComma = 59;
constexpr quint16 unmapped = X11KeyTranslator::unmappedKeyCodeBase;

KeyTapEvent ev(int type, quint16 code, quint64 flags, bool repeat = false)
{
    return KeyTapEvent{type, code, flags, repeat};
}
} // namespace

class TestX11KeyTranslator : public QObject
{
    Q_OBJECT
private slots:
    // A key is its place: what the layout prints on it does not matter, so every layout has one code per key.
    void press_layouts_givePlacesNotSymbols_data()
    {
        QTest::addColumn<quint32>("xKeyCode");
        QTest::addColumn<quint32>("keysym");
        QTest::addColumn<int>("code");
        QTest::newRow("German z on the US y key") << kcY << quint32(XK_z) << 16;
        QTest::newRow("Dvorak w on the US comma key") << kcComma << quint32(XK_w) << 43;
        // The ISO key beside left Shift is not the comma key, though both print "<" somewhere.
        QTest::newRow("ISO less-greater key") << kcLessGreater << quint32(XK_less) << 10;
        QTest::newRow("a key the Mac lacks") << kcMenu << quint32(XK_Menu) << int(unmapped + kcMenu);
    }
    void press_layouts_givePlacesNotSymbols()
    {
        QFETCH(quint32, xKeyCode);
        QFETCH(quint32, keysym);
        QFETCH(int, code);
        X11KeyTranslator t;
        t.setFnRoleKey(FnRoleKey::f20);
        QCOMPARE(t.press(xKeyCode, keysym), ev(keyDown, quint16(code), 0));
        QVERIFY(t.xKeyCodesForMacKeyCode(quint16(code)).contains(xKeyCode));
        // Held, it repeats; released and pressed again, it is a new press.
        QCOMPARE(t.press(xKeyCode, keysym), ev(keyDown, quint16(code), 0, true));
        QCOMPARE(t.release(xKeyCode, keysym), ev(keyUp, quint16(code), 0));
        QCOMPARE(t.press(xKeyCode, keysym), ev(keyDown, quint16(code), 0));
    }

    void press_modifiers_areWhatTheKeyDoes()
    {
        X11KeyTranslator t;
        t.setFnRoleKey(FnRoleKey::f20);
        QCOMPARE(t.press(kcShiftL, XK_Shift_L), ev(flagsChanged, keyShift, flagShift));
        QCOMPARE(t.press(kcShiftR, XK_Shift_R), ev(flagsChanged, keyRightShift, flagShift));
        // A held modifier's repeat changes nothing.
        QCOMPARE(t.press(kcShiftR, XK_Shift_R), std::nullopt);
        QCOMPARE(t.release(kcShiftL, XK_Shift_L), ev(flagsChanged, keyShift, flagShift));
        QCOMPARE(t.press(kcSuperL, XK_Super_L), ev(flagsChanged, keyCommand, flagShift | flagCommand));
        QCOMPARE(t.press(kcSpace, XK_space), ev(keyDown, keySpace, flagShift | flagCommand));
        QCOMPARE(t.release(kcShiftR, XK_Shift_R), ev(flagsChanged, keyRightShift, flagCommand));
        // Caps Lock made a Control key is Control.
        QCOMPARE(t.press(kcCaps, XK_Control_L), ev(flagsChanged, keyControl, flagCommand | flagControl));
        t.release(kcCaps, XK_Control_L);
        t.release(kcSuperL, XK_Super_L);
        // Right Alt is Option on a US keymap, AltGr (no Option) on a German one; AltGr marks what is typed with it.
        QCOMPARE(t.press(kcAltR, XK_Alt_R), ev(flagsChanged, keyRightOption, flagOption));
        // Released after a switch to a group where it is AltGr: released as what it went down as.
        QCOMPARE(t.release(kcAltR, XK_ISO_Level3_Shift), ev(flagsChanged, keyRightOption, 0));
        QCOMPARE(t.press(kcAltR, XK_ISO_Level3_Shift), ev(keyDown, quint16(unmapped + kcAltR), flagAltGr));
        QCOMPARE(t.press(kcQ, XK_q), ev(keyDown, 12, flagAltGr));
        QCOMPARE(t.release(kcAltR, XK_ISO_Level3_Shift), ev(keyUp, quint16(unmapped + kcAltR), 0));
        QCOMPARE(t.press(kcQ, XK_q), ev(keyDown, 12, 0, true));
    }

    void press_fnRoleKeyByItsPlace_capsLockTogglesOnPressOnly()
    {
        // (Menu, F13 and Right Ctrl as the role key are driven through the real X tap.)
        X11KeyTranslator t;
        t.setFnRoleKey(FnRoleKey::rightControl);
        QCOMPARE(t.press(kcCtrlR, XK_Control_R), ev(flagsChanged, keyFn, flagFn));
        // Menu is no longer the role key: a key the Mac lacks, still reported.
        QCOMPARE(t.press(kcMenu, XK_Menu), ev(keyDown, quint16(unmapped + kcMenu), flagFn));
        // Right Alt as the role key is Fn whether the keymap makes it Alt or AltGr.
        t.setFnRoleKey(FnRoleKey::rightAlt);
        t.reset();
        QCOMPARE(t.press(kcAltR, XK_ISO_Level3_Shift), ev(flagsChanged, keyFn, flagFn));
        // Caps Lock flips its flag on the press only.
        t.reset();
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

    // Key events without a key code (synthesised ones) are placed where a US keyboard has their keysym, so they
    // read as the same keys a real press would.
    void usKeyCodeForKeysym_namedKeys_readBackAsTheirCode()
    {
        X11KeyTranslator t;
        for (const auto &[sym, code] : {std::pair<quint32, quint16>{XK_K, 40},
                                        {XK_exclam, 18},
                                        {XK_question, 44},
                                        {XK_Control_R, keyRightControl},
                                        {XK_Super_L, keyCommand},
                                        {XK_F5, 96}}) {
            const std::optional<quint32> place = X11KeyTranslator::usKeyCodeForKeysym(sym);
            QVERIFY(place);
            QCOMPARE(t.macKeyCode(*place, sym), code);
        }
        QCOMPARE(t.macKeyCode(*X11KeyTranslator::usKeyCodeForKeysym(XK_Menu), XK_Menu), keyFn);
    }
};

QTEST_GUILESS_MAIN(TestX11KeyTranslator)
#include "tst_X11KeyTranslator.moc"
