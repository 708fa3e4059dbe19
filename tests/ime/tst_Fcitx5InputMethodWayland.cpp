// The input-method route into a native Wayland client: headless sway (in a user namespace, as sway refuses to
// run as root) with a long-lived virtual keyboard, fcitx5 connected to it as the input method, and a GTK 3
// window using its default Wayland input method (text-input-v3). Run inside scripts/lib/desktop.sh.
#include "Fcitx5Server.h"
#include "ImeProbe.h"
#include "platform/linux/Fcitx5InputMethodCommit.h"

#include <QTest>

class tst_Fcitx5InputMethodWayland : public QObject
{
    Q_OBJECT

    QTemporaryDir runtime;
    QProcess sway;
    QProcess keyboard;
    std::unique_ptr<Fcitx5Server> fcitx;
    std::unique_ptr<ImeProbe> probe;
    std::unique_ptr<Fcitx5InputMethodCommit> im;
    QMap<QString, QString> waylandEnv;

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            QSKIP("needs the test desktop's session bus (scripts/lib/desktop.sh)");
        QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile config(runtime.filePath(QStringLiteral("sway.conf")));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("xwayland disable\noutput HEADLESS-1 resolution 1280x800 position 0 0\n"
                     "default_border none\nfocus_follows_mouse no\n");
        config.close();

        sway.setProcessEnvironment(DesktopChild::environment({{QStringLiteral("XDG_RUNTIME_DIR"), runtime.path()},
                                                              {QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless")},
                                                              {QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman")},
                                                              {QStringLiteral("DISPLAY"), QStringLiteral("-")}}));
        sway.setProcessChannelMode(QProcess::MergedChannels);
        sway.setStandardOutputFile(runtime.filePath(QStringLiteral("sway.log")));
        sway.start(QStringLiteral("unshare"),
                   {QStringLiteral("--user"), QStringLiteral("--map-user=1000"), QStringLiteral("--map-group=1000"),
                    QStringLiteral("sway"), QStringLiteral("-c"), config.fileName()});
        QString socket;
        QVERIFY(ImeProbe::waitUntil(
            [&]() {
                const QStringList s = QDir(runtime.path()).entryList({QStringLiteral("wayland-?")}, QDir::System);
                socket = s.value(0);
                return !socket.isEmpty();
            },
            10000));
        waylandEnv = {{QStringLiteral("XDG_RUNTIME_DIR"), runtime.path()},
                      {QStringLiteral("WAYLAND_DISPLAY"), socket},
                      {QStringLiteral("DISPLAY"), QStringLiteral("-")}};

        // The headless backend has no keyboard, and nothing gets the focus without one.
        keyboard.setProcessEnvironment(DesktopChild::environment(waylandEnv));
        keyboard.start(QStringLiteral("wtype"), {QStringLiteral("-s"), QStringLiteral("3600000")});

        fcitx = std::make_unique<Fcitx5Server>(waylandEnv);
        QVERIFY2(fcitx->waitReady(), qPrintable(fcitx->log));
        QVERIFY2(ImeProbe::waitUntil([this]() { return fcitx->log.contains(QLatin1String("wayland")); }, 5000),
                 qPrintable(fcitx->log));

        QMap<QString, QString> probeEnv = waylandEnv;
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
        DesktopChild::stop(keyboard);
        DesktopChild::stop(sway);
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
