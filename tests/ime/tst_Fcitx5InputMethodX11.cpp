// The input-method route on X11: a real fcitx5 with pinyin and the project's add-on, a GTK 3 window in another
// process using the fcitx GTK module, the X clipboard. Run inside scripts/lib/desktop.sh.
#include "Fcitx5Server.h"
#include "ImeProbe.h"
#include "platform/linux/Fcitx5InputMethodCommit.h"

#include <QTest>

namespace {
const QString kMixed = QStringLiteral("言川 Voxle 听写 dictation 2026，emoji 😀👍🏽 完。");

QString run(const QStringList &args)
{
    return DesktopChild::output(args.first(), args.mid(1));
}
const QStringList kReadClipboard{QStringLiteral("xclip"), QStringLiteral("-o"), QStringLiteral("-selection"),
                                 QStringLiteral("clipboard")};
} // namespace

class tst_Fcitx5InputMethodX11 : public QObject
{
    Q_OBJECT

    std::unique_ptr<Fcitx5Server> fcitx;
    std::unique_ptr<ImeProbe> probe;
    std::unique_ptr<Fcitx5InputMethodCommit> im;

    InputMethodCommit::Outcome commit(const QString &text, bool preedit = false)
    {
        return ImeProbe::commit(*im, text, preedit);
    }
    QString mainText() const { return probe->text.value(QStringLiteral("main")); }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs the test desktop (scripts/lib/desktop.sh)");
        fcitx = std::make_unique<Fcitx5Server>();
        QVERIFY2(fcitx->waitReady(), qPrintable(fcitx->log));
        probe = std::make_unique<ImeProbe>(
            QStringLiteral(VOXLE_IME_PROBE),
            QMap<QString, QString>{{QStringLiteral("GTK_IM_MODULE"), QStringLiteral("fcitx")}});
        QVERIFY(ImeProbe::waitUntil([this]() { return probe->ready; }, 15000));
        QVERIFY(probe->focusX11Window());
        im = std::make_unique<Fcitx5InputMethodCommit>();
        QVERIFY(ImeProbe::waitUntil([this]() { return im->isFrameworkRunning(); }));
        QVERIFY(probe->waitForImeFocus([this]() { return ImeProbe::reportsFocus(*im); }));
    }

    void cleanupTestCase()
    {
        im.reset();
        probe.reset();
        fcitx.reset();
    }

    void commit_mixedText_arrivesExactlyWithClipboardUntouched()
    {
        QProcess clipboardOwner;
        clipboardOwner.start(QStringLiteral("xclip"), {QStringLiteral("-quiet"), QStringLiteral("-selection"),
                                                       QStringLiteral("clipboard"), QStringLiteral("-i")});
        clipboardOwner.write("用户的剪贴板");
        clipboardOwner.closeWriteChannel();
        QTRY_COMPARE(run(kReadClipboard), QStringLiteral("用户的剪贴板"));

        QCOMPARE(InputMethodCommit::outcomeName(commit(kMixed)), QStringLiteral("done"));
        QTRY_COMPARE(mainText(), kMixed);
        QCOMPARE(run(kReadClipboard), QStringLiteral("用户的剪贴板"));
        QCOMPARE(clipboardOwner.state(), QProcess::Running);
        clipboardOwner.kill();
        clipboardOwner.waitForFinished();
    }

    void commit_duringPinyinComposition_keepsTheComposition()
    {
        probe->send(QStringLiteral("clear"));
        QTRY_COMPARE(mainText(), QString());
        fcitx->run(QStringLiteral("fcitx5-remote"), {QStringLiteral("-o")});
        run({QStringLiteral("xdotool"), QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"),
             QStringLiteral("nihao")});
        QTRY_COMPARE(probe->preedit.value(QStringLiteral("main")), QStringLiteral("ni hao"));

        // Live text is not drawn over the user's own composition.
        QCOMPARE(commit(QStringLiteral("实时"), true), InputMethodCommit::Outcome::composing);

        const int changes = probe->preeditChanges;
        QCOMPARE(commit(QStringLiteral("[听写]")), InputMethodCommit::Outcome::done);
        QTRY_COMPARE(mainText(), QStringLiteral("[听写]"));
        QCOMPARE(probe->preedit.value(QStringLiteral("main")), QStringLiteral("ni hao"));
        QCOMPARE(probe->preeditChanges, changes);

        run({QStringLiteral("xdotool"), QStringLiteral("key"), QStringLiteral("space")});
        QTRY_COMPARE(mainText(), QStringLiteral("[听写]你好"));
        fcitx->run(QStringLiteral("fcitx5-remote"), {QStringLiteral("-c")});
    }

    void passwordField_receivesNothing()
    {
        probe->send(QStringLiteral("focus password"));
        QTRY_COMPARE(probe->focus, QStringLiteral("password"));
        QTRY_VERIFY(ImeProbe::focusState(*im).value_or(InputMethodCommit::FocusState{}).password);
        QCOMPARE(commit(QStringLiteral("不该出现")), InputMethodCommit::Outcome::password);
        QCOMPARE(commit(QStringLiteral("不该出现"), true), InputMethodCommit::Outcome::password);
        QTest::qWait(200);
        QCOMPARE(probe->text.value(QStringLiteral("password")), QString());
        QCOMPARE(probe->preedit.value(QStringLiteral("password")), QString());
        probe->send(QStringLiteral("focus main"));
        QTRY_COMPARE(probe->focus, QStringLiteral("main"));
    }
};

QTEST_GUILESS_MAIN(tst_Fcitx5InputMethodX11)
#include "tst_Fcitx5InputMethodX11.moc"
