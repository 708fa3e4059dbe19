// The input-method route inside the text injection service: after accessibility, before the paste.
#include "../output/InjectionRig.h"
#include "platform/fake/FakeInputMethodCommit.h"

#include <QTest>

class tst_TextInjectionInputMethod : public QObject
{
    Q_OBJECT

    std::unique_ptr<InjectionRig> r;
    std::unique_ptr<FakeInputMethodCommit> im;

    void settle()
    {
        for (int i = 0; i < 50; ++i)
            r->clock.advance(100);
    }
    bool pasted() const { return !r->keys.events.isEmpty(); }
    // The target takes the clipboard text when the paste key goes down.
    void recordPastes(QStringList &into)
    {
        r->keys.onPost = [this, &into](const FakeKeySynth::Event &e) {
            if (e.keyDown)
                into << r->pb.readAsTarget().value_or(QString());
        };
    }

private slots:
    void init()
    {
        r = std::make_unique<InjectionRig>();
        // A field the accessibility interface cannot write (a terminal, an application without a tree).
        r->ax.field.acceptsSelectedText = false;
        r->ax.field.exposesValue = false;
        r->pb.setString(QStringLiteral("用户剪贴板"));
        im = std::make_unique<FakeInputMethodCommit>(r->clock);
        im->replyDelayMs = 30;
        r->service->setInputMethod(im.get());
    }
    void cleanup()
    {
        r->service.reset();
        im.reset();
        r.reset();
    }

    void accessibilityFails_inputMethodCommitsWithoutClipboard()
    {
        const qint64 clipboard = r->pb.changeCount();
        r->service->injectAtCursor(QStringLiteral("  你好 Voxle 😀\n"));
        settle();
        QCOMPARE(im->field.value, QStringLiteral("你好 Voxle 😀"));
        QCOMPARE(r->pb.changeCount(), clipboard);
        QVERIFY(!pasted());

        // Without accessibility trust the route comes before the paste as well.
        r->ax.trusted = false;
        r->service->injectAtCursor(QStringLiteral("再来"));
        settle();
        QCOMPARE(im->field.value, QStringLiteral("你好 Voxle 😀再来"));
        QVERIFY(!pasted());
    }

    void accessibilityWorks_inputMethodUntouched()
    {
        r->ax.field = FakeAccessibility::Field{};
        r->service->injectAtCursor(QStringLiteral("经无障碍"));
        settle();
        QCOMPARE(r->ax.field.value, QStringLiteral("经无障碍"));
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
        r->service->injectAtCursor(QStringLiteral("粘贴"));
        settle();
        QCOMPARE(clipboardAtPaste, QStringList{QStringLiteral("粘贴")});
        QCOMPARE(im->field.value, QString());
        QCOMPARE(r->pb.string(), QStringLiteral("用户剪贴板"));
    }

    void secondTextWhileCommitPending_arrivesAfterTheFirst()
    {
        r->service->injectAtCursor(QStringLiteral("第一"));
        r->service->injectAtCursor(QStringLiteral("第二"));
        r->clock.advance(30);
        QCOMPARE(im->field.value, QStringLiteral("第一"));
        settle();
        QCOMPARE(im->field.value, QStringLiteral("第一第二"));

        // A refused first text is pasted, and the second still comes after it.
        im->field.password = true;
        QStringList clipboardAtPaste;
        recordPastes(clipboardAtPaste);
        r->service->injectAtCursor(QStringLiteral("三"));
        r->service->injectAtCursor(QStringLiteral("四"));
        settle();
        QCOMPARE(clipboardAtPaste, QStringList({QStringLiteral("三"), QStringLiteral("四")}));
    }

    void serviceGoneBeforeAnswer_answerIgnored()
    {
        r->service->injectAtCursor(QStringLiteral("迟到"));
        r->service.reset();
        settle();
        QVERIFY(!pasted());
    }
};

QTEST_GUILESS_MAIN(tst_TextInjectionInputMethod)
#include "tst_TextInjectionInputMethod.moc"
