// Dictation through the user's input method, end to end: the stand-in service with a scripted transcript, the
// Voxle application, a real fcitx5 with the add-on, and a GTK window using fcitx whose text the accessibility
// interface cannot reach (it exports no tree), so the text can only come through fcitx5 or the clipboard.
// Run inside scripts/lib/desktop.sh.
#include "E2eHarness.h"
#include "Fcitx5Server.h"
#include "ImeProbe.h"
#include "platform/linux/Fcitx5InputMethodCommit.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QTest>

namespace {
const QString kIdle = QStringLiteral("空闲");
const QString kRecording = QStringLiteral("录音中");
const QString kSentence = QStringLiteral("今天天气不错，我们出去走走吧");

// Voxle's main window, once the X server shows it: it takes the focus when it appears.
bool mainWindowShown()
{
    static const QRegularExpression row(
        QStringLiteral(R"re((0x[0-9a-f]+) "言川 Voxle": \("voxle" "Voxle"\)\s+1120x)re"));
    const QRegularExpressionMatch m =
        row.match(DesktopChild::output(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")}));
    return m.hasMatch() && DesktopChild::output(QStringLiteral("xwininfo"), {QStringLiteral("-id"), m.captured(1)})
                               .contains(QLatin1String("IsViewable"));
}
} // namespace

class tst_ImeEndToEnd : public QObject
{
    Q_OBJECT

    E2eHarness harness;
    std::unique_ptr<Fcitx5Server> fcitx;
    std::unique_ptr<ImeProbe> probe;
    QProcess clipboardOwner;
    // The stand-in, like the real service, hears nothing in silence: the script is uncovered by sound.
    QString speech;

    QString mainText() const { return probe->text.value(QStringLiteral("main")); }
    QString preedit() const { return probe->preedit.value(QStringLiteral("main")); }

    bool toggle() { return harness.voxle({QStringLiteral("--toggle")}).value(QStringLiteral("ok")).toBool(); }
    // Starts a dictation and speaks into it.
    bool speak() { return toggle() && harness.waitForStatus(kRecording, 10000) && harness.playIntoMicrophone(speech); }
    // Ends the dictation: the whole sentence lands in the field, and Voxle is idle again.
    bool finish()
    {
        return toggle() && QTest::qWaitFor([this]() { return mainText() == kSentence; }, 20000) &&
               harness.waitForStatus(kIdle, 5000);
    }

    // Once the service has heard speech (capture runs behind playback on a busy machine); with live text, once the
    // preedit shows what the scripted recogniser uncovers of the sentence as audio arrives.
    bool heard(bool liveText)
    {
        const auto partial = [this]() {
            return harness.voxle({QStringLiteral("--state")}).value(QStringLiteral("partial")).toString();
        };
        return QTest::qWaitFor([&]() { return liveText ? preedit().size() >= 4 : !partial().isEmpty(); }, 10000);
    }

private slots:
    void initTestCase()
    {
        const QString problem = harness.desktopProblem();
        if (!problem.isEmpty())
            QFAIL(qPrintable(problem));
        speech = harness.speechWav(QStringLiteral("hello world this is a test"));
        QVERIFY2(!speech.isEmpty(), "espeak-ng or sox failed");
        fcitx = std::make_unique<Fcitx5Server>();
        QVERIFY2(fcitx->waitReady(), qPrintable(fcitx->log()));
        probe = std::make_unique<ImeProbe>(
            QMap<QString, QString>{{QStringLiteral("GTK_IM_MODULE"), QStringLiteral("fcitx")}});
        QVERIFY(QTest::qWaitFor([this]() { return probe->ready; }, 15000));
        Fcitx5InputMethodCommit im;
        QVERIFY(probe->focusForInputMethod(im));
        QVERIFY(harness.startServer(QStringLiteral("scripted")));
        QVERIFY(harness.control("/__control/asr", {{QStringLiteral("sentences"), QJsonArray{kSentence}}}));
        QVERIFY(ImeProbe::ownX11Clipboard(clipboardOwner, QStringLiteral("用户剪贴板")));
    }

    void cleanupTestCase()
    {
        harness.stopVoxle();
        harness.stopServer();
        clipboardOwner.kill();
        clipboardOwner.waitForFinished();
        probe.reset();
        fcitx.reset();
    }

    void dictation_data()
    {
        QTest::addColumn<bool>("liveText");
        QTest::newRow("final text committed") << false;
        QTest::newRow("partials as preedit") << true;
    }
    // The sentence lands through fcitx5 at the end, with live text after partials that stood as preedit (without,
    // after none); a dictation cancelled while speaking leaves the field as it was.
    void dictation()
    {
        QFETCH(bool, liveText);
        QVERIFY(harness.startVoxle(
            {{QStringLiteral("use_proxy"), false}, {QStringLiteral("live_text_preedit"), liveText}}));
        // Voxle opens its main window at launch; the user clicks back into the field before dictating.
        QVERIFY(QTest::qWaitFor(mainWindowShown, 10000));
        Fcitx5InputMethodCommit im;
        QVERIFY(probe->focusForInputMethod(im));
        probe->send(QStringLiteral("clear"));
        QVERIFY(QTest::qWaitFor([this]() { return mainText().isEmpty(); }));
        const int preeditChanges = probe->preeditChanges;
        QVERIFY(speak());
        // The field still holds the input method's focus once the pill is up, as it does for a user.
        QVERIFY(probe->waitForImeFocus([&]() { return ImeProbe::reportsFocus(im); }));
        QVERIFY2(heard(liveText), qPrintable(preedit()));
        QVERIFY(kSentence.startsWith(preedit()));
        QCOMPARE(mainText(), QString());
        QVERIFY2(finish(), qPrintable(mainText()));
        QTRY_COMPARE(preedit(), QString());
        QCOMPARE(probe->preeditChanges > preeditChanges, liveText);
        // The owner of the user's clipboard never lost it (xclip ends when another program takes it).
        QCOMPARE(clipboardOwner.state(), QProcess::Running);

        QVERIFY(speak());
        QVERIFY(heard(liveText));
        QVERIFY(harness.voxle({QStringLiteral("--cancel")}).value(QStringLiteral("ok")).toBool());
        QVERIFY(harness.waitForStatus(kIdle, 5000));
        QTRY_COMPARE(preedit(), QString());
        QTest::qWait(500);
        QCOMPARE(mainText(), kSentence);
    }
};

QTEST_GUILESS_MAIN(tst_ImeEndToEnd)
#include "tst_ImeEndToEnd.moc"
