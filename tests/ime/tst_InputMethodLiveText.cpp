// Live text as preedit through an input method that answers later, in call order, as fcitx5 does.
#include "output/InputMethodLiveText.h"
#include "platform/fake/FakeInputMethodCommit.h"
#include "platform/fake/ManualClock.h"

#include <QTest>

class tst_InputMethodLiveText : public QObject
{
    Q_OBJECT

    ManualClock clock;
    std::unique_ptr<FakeInputMethodCommit> im;
    std::unique_ptr<InputMethodLiveText> live;
    // The ordinary injector behind the live text.
    struct Recorder : TextInjector {
        QStringList texts;
        void injectAtCursor(const QString &text) override { texts << text; }
        void cancelInsertion() override { ++cancels; }
        int cancels = 0;
    } ordinary;
    QStringList &fallbacks = ordinary.texts;

private slots:
    void init()
    {
        im = std::make_unique<FakeInputMethodCommit>(clock);
        im->replyDelayMs = 20;
        im->field.value = QStringLiteral("前文");
        im->field.cursor = 2;
        live = std::make_unique<InputMethodLiveText>(ordinary, *im);
        live->setEnabled(true);
        fallbacks.clear();
        ordinary.cancels = 0;
    }

    void partials_followedByFinal_replaceLiveTextInPlace()
    {
        live->showPartial(QStringLiteral("今天"));
        live->showPartial(QStringLiteral("今天天"));
        live->showPartial(QStringLiteral("今天天气"));
        clock.advance(20);
        QCOMPARE(im->field.livePreedit, QStringLiteral("今天"));
        clock.advance(20);
        // Partials that came while the framework was busy collapse into the newest.
        QCOMPARE(im->calls, QStringList({QStringLiteral("setPreedit:今天"), QStringLiteral("setPreedit:今天天气")}));
        QCOMPARE(im->field.livePreedit, QStringLiteral("今天天气"));

        live->showPartial(QStringLiteral("今天天气不错"));
        clock.advance(20);
        // The same partial again (the overlay redraws for the level meter) sends nothing.
        live->showPartial(QStringLiteral("今天天气不错"));
        QCOMPARE(im->calls.size(), 3);
        live->injectAtCursor(QStringLiteral("  今天天气不错。\n"));
        clock.advance(100);
        QCOMPARE(im->field.value, QStringLiteral("前文今天天气不错。"));
        QCOMPARE(im->field.livePreedit, QString());
        QVERIFY(fallbacks.isEmpty());
        QVERIFY(!live->isActive());
    }

    void cancel_leavesFieldAsItWas()
    {
        live->showPartial(QStringLiteral("说到"));
        clock.advance(20);
        live->showPartial(QStringLiteral("说到一半"));
        live->showPartial(QStringLiteral("说到一半了"));
        live->cancelInsertion();
        clock.advance(100);
        QCOMPARE(ordinary.cancels, 1); // a text queued for the ordinary route is dropped too
        QCOMPARE(im->field.value, QStringLiteral("前文"));
        QCOMPARE(im->field.livePreedit, QString());
        // The reply to the preedit still on its way does not send the partial waiting behind it.
        QVERIFY(!im->calls.contains(QStringLiteral("setPreedit:说到一半了")));
        QVERIFY(!live->isActive());
        // The next dictation starts afresh, even with the words the cancelled one ended on.
        live->showPartial(QStringLiteral("说到一半了"));
        clock.advance(20);
        QCOMPARE(im->field.livePreedit, QStringLiteral("说到一半了"));
    }

    void refusedCommit_clearsAndFallsBack_data()
    {
        QTest::addColumn<bool>("callFails");
        // The user moved to a password field before the end.
        QTest::newRow("password field") << false;
        // The call got no answer in time; the framework takes the clear that follows.
        QTest::newRow("commit call failed") << true;
    }
    void refusedCommit_clearsAndFallsBack()
    {
        QFETCH(bool, callFails);
        live->showPartial(QStringLiteral("密码"));
        clock.advance(20);
        im->field.password = !callFails;
        im->failing = callFails;
        live->injectAtCursor(QStringLiteral("密码是"));
        clock.advance(20);
        im->failing = false;
        clock.advance(100);
        QCOMPARE(im->field.value, QStringLiteral("前文"));
        QCOMPARE(im->field.livePreedit, QString());
        QCOMPARE(fallbacks, QStringList{QStringLiteral("密码是")});
    }

    void userComposition_keptAndFinalGoesBeforeIt()
    {
        im->field.userPreedit = QStringLiteral("ni hao");
        live->showPartial(QStringLiteral("你"));
        clock.advance(20);
        QCOMPARE(im->field.livePreedit, QString());
        live->injectAtCursor(QStringLiteral("你们"));
        clock.advance(20);
        QCOMPARE(im->field.value, QStringLiteral("前文你们"));
        QCOMPARE(im->field.userPreedit, QStringLiteral("ni hao"));
        QVERIFY(fallbacks.isEmpty());
    }

    void noLiveText_finalGoesTheOrdinaryWay()
    {
        live->setEnabled(false);
        live->showPartial(QStringLiteral("关着"));
        live->injectAtCursor(QStringLiteral("直接"));
        QCOMPARE(fallbacks, QStringList{QStringLiteral("直接")});
        live->setEnabled(true);
        im->running = false;
        live->showPartial(QStringLiteral("没有输入法"));
        QVERIFY(im->calls.isEmpty());
        im->running = true;

        live->showPartial(QStringLiteral("嗯"));
        live->injectAtCursor(QStringLiteral("  "));
        clock.advance(100);
        QCOMPARE(im->field.livePreedit, QString());
        QCOMPARE(im->field.value, QStringLiteral("前文"));
        QCOMPARE(fallbacks.size(), 1);
    }
};

QTEST_GUILESS_MAIN(tst_InputMethodLiveText)
#include "tst_InputMethodLiveText.moc"
