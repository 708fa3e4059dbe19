// The input-method route inside the text injection service: after accessibility, before the paste.
#include "output/TextInjectionService.h"
#include "platform/fake/FakeAccessibility.h"
#include "platform/fake/FakeInputMethodCommit.h"
#include "platform/fake/FakeKeySynth.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/fake/ManualClock.h"

#include <QTest>

class tst_TextInjectionInputMethod : public QObject
{
    Q_OBJECT

    ManualClock clock;
    FakeAccessibility ax;
    FakePasteboard pb;
    FakeKeySynth keys;
    std::unique_ptr<FakeInputMethodCommit> im;
    std::unique_ptr<TextInjectionService> service;

    void settle() { clock.advance(2000); }
    bool pasted() const { return !keys.events.isEmpty(); }

private slots:
    void init()
    {
        ax = FakeAccessibility{};
        // A field the accessibility interface cannot write (a terminal, an application without a tree).
        ax.field.acceptsSelectedText = false;
        ax.field.exposesValue = false;
        pb = FakePasteboard{};
        pb.setString(QStringLiteral("用户剪贴板"));
        keys = FakeKeySynth{};
        im = std::make_unique<FakeInputMethodCommit>(clock);
        im->replyDelayMs = 30;
        service = std::make_unique<TextInjectionService>(ax, pb, keys, clock);
        service->setInputMethod(im.get());
    }

    void accessibilityFails_inputMethodCommitsWithoutClipboard()
    {
        const qint64 clipboard = pb.changeCount();
        service->injectAtCursor(QStringLiteral("  你好 Voxle 😀\n"));
        settle();
        QCOMPARE(im->field.value, QStringLiteral("你好 Voxle 😀"));
        QCOMPARE(pb.changeCount(), clipboard);
        QVERIFY(!pasted());

        // Without accessibility trust the route comes before the paste as well.
        ax.trusted = false;
        service->injectAtCursor(QStringLiteral("再来"));
        settle();
        QCOMPARE(im->field.value, QStringLiteral("你好 Voxle 😀再来"));
        QVERIFY(!pasted());
    }

    void accessibilityWorks_inputMethodUntouched()
    {
        ax.field = FakeAccessibility::Field{};
        service->injectAtCursor(QStringLiteral("经无障碍"));
        settle();
        QCOMPARE(ax.field.value, QStringLiteral("经无障碍"));
        QVERIFY(im->calls.isEmpty());
    }

    void inputMethodRefusesOrIsAbsent_textIsPasted_data()
    {
        QTest::addColumn<int>("situation");
        QTest::newRow("password field") << 0;
        QTest::newRow("no framework") << 1;
        QTest::newRow("add-on missing") << 2;
    }
    void inputMethodRefusesOrIsAbsent_textIsPasted()
    {
        QFETCH(int, situation);
        im->field.password = situation == 0;
        im->running = situation != 1;
        im->failing = situation == 2;
        QStringList clipboardAtPaste;
        keys.onPost = [&](const FakeKeySynth::Event &e) {
            if (e.keyDown)
                clipboardAtPaste << pb.string().value_or(QString());
        };
        service->injectAtCursor(QStringLiteral("粘贴"));
        settle();
        QCOMPARE(clipboardAtPaste, QStringList{QStringLiteral("粘贴")});
        QCOMPARE(im->field.value, QString());
        QCOMPARE(pb.string(), QStringLiteral("用户剪贴板"));
    }

    void secondTextWhileCommitPending_arrivesAfterTheFirst()
    {
        service->injectAtCursor(QStringLiteral("第一"));
        service->injectAtCursor(QStringLiteral("第二"));
        clock.advance(30);
        QCOMPARE(im->field.value, QStringLiteral("第一"));
        settle();
        QCOMPARE(im->field.value, QStringLiteral("第一第二"));

        // A refused first text is pasted, and the second still comes after it.
        im->field.password = true;
        QStringList clipboardAtPaste;
        keys.onPost = [&](const FakeKeySynth::Event &e) {
            if (e.keyDown)
                clipboardAtPaste << pb.string().value_or(QString());
        };
        service->injectAtCursor(QStringLiteral("三"));
        service->injectAtCursor(QStringLiteral("四"));
        settle();
        QCOMPARE(clipboardAtPaste, QStringList({QStringLiteral("三"), QStringLiteral("四")}));
    }

    void serviceGoneBeforeAnswer_answerIgnored()
    {
        service->injectAtCursor(QStringLiteral("迟到"));
        service.reset();
        settle();
        QVERIFY(!pasted());
    }
};

QTEST_GUILESS_MAIN(tst_TextInjectionInputMethod)
#include "tst_TextInjectionInputMethod.moc"
