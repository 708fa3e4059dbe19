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
    std::unique_ptr<FakeAccessibility> axp;
    std::unique_ptr<FakePasteboard> pbp;
    std::unique_ptr<FakeKeySynth> keysp;
    std::unique_ptr<FakeInputMethodCommit> im;
    std::unique_ptr<TextInjectionService> service;

    void settle()
    {
        for (int i = 0; i < 50; ++i)
            clock.advance(100);
    }
    bool pasted() const { return !keysp->events.isEmpty(); }
    // The target takes the clipboard text when the paste key goes down.
    void recordPastes(QStringList &into)
    {
        keysp->onPost = [this, &into](const FakeKeySynth::Event &e) {
            if (e.keyDown)
                into << pbp->readAsTarget().value_or(QString());
        };
    }

private slots:
    void init()
    {
        axp = std::make_unique<FakeAccessibility>(clock);
        // A field the accessibility interface cannot write (a terminal, an application without a tree).
        axp->field.acceptsSelectedText = false;
        axp->field.exposesValue = false;
        pbp = std::make_unique<FakePasteboard>();
        pbp->clock = &clock;
        pbp->setString(QStringLiteral("用户剪贴板"));
        keysp = std::make_unique<FakeKeySynth>();
        im = std::make_unique<FakeInputMethodCommit>(clock);
        im->replyDelayMs = 30;
        service = std::make_unique<TextInjectionService>(*axp, *pbp, *keysp, clock);
        service->setInputMethod(im.get());
    }
    void cleanup()
    {
        service.reset();
        im.reset();
        keysp.reset();
        pbp.reset();
        axp.reset();
    }

    void accessibilityFails_inputMethodCommitsWithoutClipboard()
    {
        const qint64 clipboard = pbp->changeCount();
        service->injectAtCursor(QStringLiteral("  你好 Voxle 😀\n"));
        settle();
        QCOMPARE(im->field.value, QStringLiteral("你好 Voxle 😀"));
        QCOMPARE(pbp->changeCount(), clipboard);
        QVERIFY(!pasted());

        // Without accessibility trust the route comes before the paste as well.
        axp->trusted = false;
        service->injectAtCursor(QStringLiteral("再来"));
        settle();
        QCOMPARE(im->field.value, QStringLiteral("你好 Voxle 😀再来"));
        QVERIFY(!pasted());
    }

    void accessibilityWorks_inputMethodUntouched()
    {
        axp->field = FakeAccessibility::Field{};
        service->injectAtCursor(QStringLiteral("经无障碍"));
        settle();
        QCOMPARE(axp->field.value, QStringLiteral("经无障碍"));
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
        recordPastes(clipboardAtPaste);
        service->injectAtCursor(QStringLiteral("粘贴"));
        settle();
        QCOMPARE(clipboardAtPaste, QStringList{QStringLiteral("粘贴")});
        QCOMPARE(im->field.value, QString());
        QCOMPARE(pbp->string(), QStringLiteral("用户剪贴板"));
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
        recordPastes(clipboardAtPaste);
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
