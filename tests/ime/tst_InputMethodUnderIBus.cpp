// Under IBus the input-method route steps aside (accessibility and the paste carry the text), and asking it
// never starts fcitx5 behind the user's back. A real ibus-daemon and a GTK 3 window using the IBus module.
// Run inside scripts/lib/desktop.sh.
#include "ImeProbe.h"
#include "platform/linux/Fcitx5InputMethodCommit.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

class tst_InputMethodUnderIBus : public QObject
{
    Q_OBJECT

private slots:
    void route_declinesAndStartsNothing()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs the test desktop (scripts/lib/desktop.sh)");
        QTemporaryDir config;
        QProcess ibus;
        ibus.setProcessEnvironment(DesktopChild::environment(
            {{QStringLiteral("XDG_CONFIG_HOME"), config.path()}, {QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory")}}));
        ibus.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        ibus.start(QStringLiteral("ibus-daemon"),
                   {QStringLiteral("--single"), QStringLiteral("--emoji-extension=disable")});
        QVERIFY(
            ImeProbe::waitUntil([&]() { return !QDir(config.filePath(QStringLiteral("ibus/bus"))).isEmpty(); }, 10000));
        ImeProbe probe(QStringLiteral(VOXLE_IME_PROBE), {{QStringLiteral("GTK_IM_MODULE"), QStringLiteral("ibus")},
                                                         {QStringLiteral("XDG_CONFIG_HOME"), config.path()}});
        QVERIFY(ImeProbe::waitUntil([&]() { return probe.ready; }, 15000));

        Fcitx5InputMethodCommit im;
        QTest::qWait(300); // the adapter's first look at the bus
        QVERIFY(!im.isFrameworkRunning());
        QCOMPARE(ImeProbe::commit(im, QStringLiteral("不经 IBus")), InputMethodCommit::Outcome::noFramework);
        QTest::qWait(300);
        QCOMPARE(probe.text.value(QStringLiteral("main")), QString());
        QVERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(QStringLiteral("org.fcitx.Fcitx5")));

        DesktopChild::stop(ibus);
    }
};

QTEST_GUILESS_MAIN(tst_InputMethodUnderIBus)
#include "tst_InputMethodUnderIBus.moc"
