#include "app/HotkeyCaptureSheet.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

// The capture sheet fed with Qt key events as the window receives them (Control, Alt and Meta/Super play
// Control, Option and Command; the Menu key plays Fn by default).
class TestHotkeyCaptureSheet : public QObject
{
    Q_OBJECT
private:
    struct Rig {
        std::unique_ptr<HotkeyCaptureSheet> sheet;
        std::unique_ptr<QSignalSpy> captured;
        std::unique_ptr<QSignalSpy> rejected;

        explicit Rig(FnRoleKey role = FnRoleKeys::defaultKey)
        {
            sheet = std::make_unique<HotkeyCaptureSheet>(
                QStringLiteral("设置语音输入热键"), QStringLiteral("按下你想要的按键。松开确认；ESC 取消。"), role);
            captured = std::make_unique<QSignalSpy>(sheet.get(), &HotkeyCaptureSheet::captured);
            rejected = std::make_unique<QSignalSpy>(sheet.get(), &QDialog::rejected);
            sheet->open();
            QVERIFY(QTest::qWaitForWindowExposed(sheet.get()));
        }
        QWidget *view() const { return sheet->captureView(); }
        void press(Qt::Key key, Qt::KeyboardModifiers held = {}) { QTest::keyPress(view(), key, held); }
        void release(Qt::Key key, Qt::KeyboardModifiers held = {}) { QTest::keyRelease(view(), key, held); }
        std::optional<HotkeyBinding> binding() const { return sheet->capturedBinding(); }
    };

private slots:
    void sheet_showsTextsAndHoldsTheFocus()
    {
        Rig rig;
        QCOMPARE(rig.sheet->windowTitle(), QStringLiteral("设置语音输入热键"));
        QCOMPARE(rig.sheet->width(), 520);
        QStringList texts;
        for (const QLabel *label : rig.sheet->findChildren<QLabel *>())
            texts << label->text();
        QVERIFY(texts.contains(QStringLiteral("当前修饰键")));
        QVERIFY(texts.contains(QStringLiteral("按下你想要的按键。松开确认；ESC 取消。")));
        QCOMPARE(rig.sheet->modifiersLabel()->text(), QStringLiteral("无"));
        QCOMPARE(rig.sheet->cancelButton()->text(), QStringLiteral("取消"));
        QVERIFY(rig.view()->hasFocus());
        QCOMPARE(rig.sheet->errorText(), std::nullopt);
    }

    void keyDown_capturesOrdinaryKeyWithModifiersHeld()
    {
        Rig rig;
        rig.press(Qt::Key_Meta);
        QCOMPARE(rig.sheet->currentModifiers(), int(HotkeyBinding::command));
        QCOMPARE(rig.sheet->modifiersLabel()->text(), QStringLiteral("⌘"));
        rig.press(Qt::Key_K, Qt::MetaModifier);
        QCOMPARE(rig.captured->size(), 1);
        QCOMPARE(rig.binding(), std::optional(HotkeyBinding{40, HotkeyBinding::command}));
        QCOMPARE(rig.sheet->result(), int(QDialog::Accepted));
        QVERIFY(!rig.sheet->isVisible());
        // Releasing afterwards changes nothing.
        rig.release(Qt::Key_K, Qt::MetaModifier);
        rig.release(Qt::Key_Meta);
        QCOMPARE(rig.captured->size(), 1);
    }

    void modifierAlone_shiftReleasedUnderControl()
    {
        Rig rig;
        rig.press(Qt::Key_Control);
        rig.press(Qt::Key_Shift, Qt::ControlModifier);
        QCOMPARE(rig.sheet->modifiersLabel()->text(), QStringLiteral("⌃ ⇧"));
        rig.release(Qt::Key_Shift, Qt::ControlModifier | Qt::ShiftModifier);
        // Shift released alone with Control still held: that is the modifier-alone capture.
        QCOMPARE(rig.binding(), std::optional(HotkeyBinding{56, HotkeyBinding::control}));
    }

    void keyDown_controlAThenReleaseCapturesOnce()
    {
        Rig rig;
        rig.press(Qt::Key_Control);
        rig.press(Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(rig.binding(), std::optional(HotkeyBinding{0, HotkeyBinding::control}));
        rig.release(Qt::Key_A, Qt::ControlModifier);
        rig.release(Qt::Key_Control, Qt::ControlModifier);
        QCOMPARE(rig.captured->size(), 1);
    }

    void keyDown_plainKeysIncludingReturnTabAndSpaceAreAccepted_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("code");
        QTest::newRow("return") << int(Qt::Key_Return) << 36;
        QTest::newRow("tab") << int(Qt::Key_Tab) << 48;
        QTest::newRow("space") << int(Qt::Key_Space) << 49;
        QTest::newRow("F5") << int(Qt::Key_F5) << 96;
        QTest::newRow("digit 1") << int(Qt::Key_1) << 18;
    }
    void keyDown_plainKeysIncludingReturnTabAndSpaceAreAccepted()
    {
        QFETCH(int, key);
        QFETCH(int, code);
        Rig rig;
        rig.press(Qt::Key(key));
        QCOMPARE(rig.binding(), std::optional(HotkeyBinding{quint16(code), 0}));
        QCOMPARE(rig.rejected->size(), 0);
    }

    void modifierAlone_capturedOnRelease()
    {
        Rig rig;
        // Command, then Shift, then Shift released: Shift with Command.
        rig.press(Qt::Key_Meta);
        rig.press(Qt::Key_Shift, Qt::MetaModifier);
        QCOMPARE(rig.captured->size(), 0);
        rig.release(Qt::Key_Shift, Qt::MetaModifier | Qt::ShiftModifier);
        QCOMPARE(rig.binding(), std::optional(HotkeyBinding{56, HotkeyBinding::command}));
        rig.release(Qt::Key_Meta, Qt::MetaModifier);
        QCOMPARE(rig.captured->size(), 1);
    }

    void modifierAlone_fnRoleKeyCapturesKeyCode63()
    {
        Rig rig;
        rig.press(Qt::Key_Menu);
        QCOMPARE(rig.captured->size(), 0);
        rig.release(Qt::Key_Menu);
        QCOMPARE(rig.binding(), std::optional(HotkeyBinding{63, 0}));

        // With another key in the Fn role, Menu is an ordinary key and F13 is Fn.
        Rig other(FnRoleKey::f13);
        other.press(Qt::Key_F13);
        other.release(Qt::Key_F13);
        QCOMPARE(other.binding(), std::optional(HotkeyBinding{63, 0}));
    }

    void escape_cancelsEvenWithModifiersHeld()
    {
        Rig rig;
        rig.press(Qt::Key_Control);
        rig.press(Qt::Key_Alt, Qt::ControlModifier);
        QCOMPARE(rig.sheet->modifiersLabel()->text(), QStringLiteral("⌃ ⌥"));
        rig.press(Qt::Key_Escape, Qt::ControlModifier | Qt::AltModifier);
        QCOMPARE(rig.rejected->size(), 1);
        QCOMPARE(rig.captured->size(), 0);
        QCOMPARE(rig.binding(), std::nullopt);
    }

    void capsLock_aloneChangesNothing()
    {
        Rig rig;
        rig.press(Qt::Key_CapsLock);
        rig.release(Qt::Key_CapsLock);
        QCOMPARE(rig.captured->size(), 0);
        QCOMPARE(rig.rejected->size(), 0);
        QVERIFY(rig.sheet->isVisible());
        QCOMPARE(rig.sheet->modifiersLabel()->text(), QStringLiteral("无"));
        rig.press(Qt::Key_B);
        QCOMPARE(rig.binding(), std::optional(HotkeyBinding{11, 0}));
    }

    void cancelButton_rejectsWithoutBinding()
    {
        Rig rig;
        rig.sheet->cancelButton()->click();
        QCOMPARE(rig.rejected->size(), 1);
        QCOMPARE(rig.binding(), std::nullopt);
        QVERIFY(!rig.sheet->isVisible());
    }
};

QTEST_MAIN(TestHotkeyCaptureSheet)
#include "tst_HotkeyCaptureSheet.moc"
