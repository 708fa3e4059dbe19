// The input-method route into a native Wayland client: headless sway, fcitx5 connected to it as the input
// method, and a GTK 3 window using its default Wayland input method (text-input-v3). Run inside
// scripts/lib/desktop.sh.
#include "../output/HeadlessSway.h"
#include "Fcitx5Server.h"
#include "ImeProbe.h"
#include "platform/linux/Fcitx5InputMethodCommit.h"

#include <QTest>

class tst_Fcitx5InputMethodWayland : public QObject
{
    Q_OBJECT

    HeadlessSway sway;
    std::unique_ptr<Fcitx5Server> fcitx;
    std::unique_ptr<ImeProbe> probe;
    std::unique_ptr<Fcitx5InputMethodCommit> im;

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            QSKIP("needs the test desktop's session bus (scripts/lib/desktop.sh)");
        QVERIFY(sway.start());
        fcitx = std::make_unique<Fcitx5Server>(sway.env);
        QVERIFY2(fcitx->waitReady(), qPrintable(fcitx->log));
        QVERIFY2(ImeProbe::waitUntil([this]() { return fcitx->log.contains(QLatin1String("wayland")); }, 5000),
                 qPrintable(fcitx->log));

        QMap<QString, QString> probeEnv = sway.env;
        probeEnv.insert(QStringLiteral("GDK_BACKEND"), QStringLiteral("wayland"));
        probeEnv.insert(QStringLiteral("GTK_IM_MODULE"), QStringLiteral("-"));
        probe = std::make_unique<ImeProbe>(QStringLiteral(VOXLE_IME_PROBE), probeEnv);
        QVERIFY(ImeProbe::waitUntil([this]() { return probe->focus == QLatin1String("main"); }, 15000));

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

    void commit_reachesNativeWaylandClientAtOnce()
    {
        const QString text = QStringLiteral("Wayland 原生窗口 ok 😀");
        QCOMPARE(ImeProbe::commit(*im, text), InputMethodCommit::Outcome::done);
        // Without the add-on's flush fcitx5 5.0 would hold this until the next key or output event.
        QTRY_COMPARE_WITH_TIMEOUT(probe->text.value(QStringLiteral("main")), text, 2000);
    }

    void passwordField_receivesNothing()
    {
        probe->send(QStringLiteral("focus password"));
        QTRY_COMPARE(probe->focus, QStringLiteral("password"));
        QTRY_VERIFY(ImeProbe::focusState(*im).value_or(InputMethodCommit::FocusState{}).password);
        QCOMPARE(ImeProbe::commit(*im, QStringLiteral("不该出现")), InputMethodCommit::Outcome::password);
        QTest::qWait(200);
        QCOMPARE(probe->text.value(QStringLiteral("password")), QString());
    }
};

QTEST_GUILESS_MAIN(tst_Fcitx5InputMethodWayland)
#include "tst_Fcitx5InputMethodWayland.moc"
