#include "app/pages/HotkeyCaptureSheet.h"
#include "platform/fake/FakeWindowKeyTranslator.h"
#include "platform/linux/X11WindowKeyTranslator.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

// The capture sheet fed with Qt key events as the window receives them (Control, Alt and Meta/Super play
// Control, Option and Command; the Menu key plays Fn by default).
namespace {
// One key event: pressed (true) or released, with the modifiers Qt reports as held.
struct Key {
    Qt::Key key;
    bool down;
    Qt::KeyboardModifiers held = {};
};
using Keys = QList<Key>;
using Binding = std::optional<HotkeyBinding>;
} // namespace
Q_DECLARE_METATYPE(Keys)
Q_DECLARE_METATYPE(Binding)

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
            sheet = std::make_unique<HotkeyCaptureSheet>(QStringLiteral("设置语音输入热键"),
                                                         QStringLiteral("按下你想要的按键。松开确认；ESC 取消。"),
                                                         X11WindowKeyTranslator::create(role));
            captured = std::make_unique<QSignalSpy>(sheet.get(), &HotkeyCaptureSheet::captured);
            rejected = std::make_unique<QSignalSpy>(sheet.get(), &QDialog::rejected);
            sheet->open();
            QVERIFY(QTest::qWaitForWindowExposed(sheet.get()));
        }
        void send(const Keys &keys)
        {
            for (const Key &k : keys)
                k.down ? QTest::keyPress(sheet->captureView(), k.key, k.held)
                       : QTest::keyRelease(sheet->captureView(), k.key, k.held);
        }
    };

private slots:
    // `before` leaves the sheet waiting with `shown` as the held modifiers; `rest` decides. Keys after the
    // capture change nothing.
    void keys_captureTheFirstCompleteBinding_data()
    {
        QTest::addColumn<Keys>("before");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<Keys>("rest");
        QTest::addColumn<Binding>("binding");
        const auto ctrl = Qt::ControlModifier, meta = Qt::MetaModifier, shift = Qt::ShiftModifier;
        const int cmd = HotkeyBinding::command;
        const QString none = QStringLiteral("无");
        QTest::newRow("command K, then releases")
            << Keys{{Qt::Key_Meta, true}} << QStringLiteral("⌘")
            << Keys{{Qt::Key_K, true, meta}, {Qt::Key_K, false, meta}, {Qt::Key_Meta, false}}
            << Binding(HotkeyBinding{40, cmd});
        QTest::newRow("shift released alone under command, then command")
            << Keys{{Qt::Key_Meta, true}, {Qt::Key_Shift, true, meta}} << QStringLiteral("⇧ ⌘")
            << Keys{{Qt::Key_Shift, false, meta | shift}, {Qt::Key_Meta, false, meta}}
            << Binding(HotkeyBinding{56, cmd});
        QTest::newRow("space") << Keys{} << none << Keys{{Qt::Key_Space, true}} << Binding(HotkeyBinding{49, 0});
        QTest::newRow("F5") << Keys{} << none << Keys{{Qt::Key_F5, true}} << Binding(HotkeyBinding{96, 0});
        QTest::newRow("menu plays Fn on release")
            << Keys{{Qt::Key_Menu, true}} << none << Keys{{Qt::Key_Menu, false}} << Binding(HotkeyBinding{63, 0});
        QTest::newRow("escape cancels with modifiers held")
            << Keys{{Qt::Key_Control, true}, {Qt::Key_Alt, true, ctrl}} << QStringLiteral("⌃ ⌥")
            << Keys{{Qt::Key_Escape, true, ctrl | Qt::AltModifier}} << Binding();
    }
    void keys_captureTheFirstCompleteBinding()
    {
        QFETCH(Keys, before);
        QFETCH(QString, shown);
        QFETCH(Keys, rest);
        QFETCH(Binding, binding);
        Rig rig;
        QVERIFY(rig.sheet->captureView()->hasFocus());
        rig.send(before);
        QCOMPARE(rig.sheet->modifiersLabel()->text(), shown);
        QVERIFY(rig.sheet->modifiersLabel()->isVisible());
        QVERIFY(rig.sheet->isVisible());
        QCOMPARE(rig.captured->size() + rig.rejected->size(), 0);
        rig.send(rest);
        QCOMPARE(rig.sheet->capturedBinding(), binding);
        QCOMPARE(rig.captured->size(), binding ? 1 : 0);
        QCOMPARE(rig.rejected->size(), binding ? 0 : 1);
        QCOMPARE(rig.sheet->result(), int(binding ? QDialog::Accepted : QDialog::Rejected));
        QVERIFY(!rig.sheet->isVisible());
    }

    void fnRole_anotherKeyPlaysFn()
    {
        Rig rig(FnRoleKey::f13);
        rig.send({{Qt::Key_F13, true}, {Qt::Key_F13, false}});
        QCOMPARE(rig.sheet->capturedBinding(), Binding(HotkeyBinding{63, 0}));
    }

    // The sheet reads each key once: never the release half of a repeat, nothing after the capture.
    void keys_readOnceUntilCaptured()
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
    }

    void cancelButton_rejectsWithoutBinding()
    {
        Rig rig;
        rig.sheet->cancelButton()->click();
        QCOMPARE(rig.rejected->size(), 1);
        QCOMPARE(rig.sheet->capturedBinding(), std::nullopt);
        QVERIFY(!rig.sheet->isVisible());
    }
};

QTEST_MAIN(TestHotkeyCaptureSheet)
#include "tst_HotkeyCaptureSheet.moc"
