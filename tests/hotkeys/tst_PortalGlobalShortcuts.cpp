#include "PortalStandIn.h"
#include "QuietDebugEvents.h"
#include "core/ControllerRig.h"
#include "core/VoxleAppStateHotkeyHost.h"
#include "hotkeys/PortalHotkeyBridge.h"
#include "platform/linux/PortalGlobalShortcuts.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/prctl.h>

using namespace Qt::StringLiterals;
using AppStatus = VoxleAppState::AppStatus;
using Status = GlobalShortcuts::Status;

// The real portal client and the real state on a private dbus-daemon, where the portal, when there is one, is
// the stand-in on a connection of its own.
class TestPortalGlobalShortcuts : public QObject
{
    Q_OBJECT

    QuietDebugEvents m_quiet;
    QTemporaryDir m_dir;
    QProcess m_daemon;
    int m_connections = 0;

    QDBusConnection connect()
    {
        return QDBusConnection::connectToBus(m_daemon.property("address").toString(), u"c%1"_s.arg(++m_connections));
    }

private slots:
    void initTestCase()
    {
        // No service folders: nothing real can be started on this bus.
        QFile config(m_dir.filePath(u"bus.conf"_s));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("<busconfig><type>session</type><listen>unix:dir=" + m_dir.path().toUtf8() +
                     "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" "
                     "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>");
        config.close();
        // The bus goes with the test (QProcess ends it), even with one that crashed.
        m_daemon.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_daemon.start(u"dbus-daemon"_s,
                       {u"--nofork"_s, u"--print-address"_s, u"--config-file="_s + config.fileName()});
        QVERIFY(m_daemon.waitForReadyRead(10000));
        m_daemon.setProperty("address", QString::fromUtf8(m_daemon.readLine()).trimmed());
    }

    void boundActions_startStopAndCancelDictations()
    {
        PortalStandIn portal(connect());
        ControllerRig rig;
        VoxleAppStateHotkeyHost host(*rig.state);
        PortalGlobalShortcuts shortcuts(connect());
        PortalHotkeyBridge bridge(host, shortcuts);
        bridge.start();
        QTRY_COMPARE(shortcuts.status(), Status::bound);
        QCOMPARE(portal.bound.size(), 4);
        QCOMPARE(portal.bound.value(u"cancel"_s).value(u"description"_s), u"取消听写"_s);
        QCOMPARE(shortcuts.triggers().value(u"polish"_s), u"CTRL+ALT+space"_s);
        QVERIFY(!portal.press(u"dictate"_s));

        QVERIFY(portal.press(u"record"_s) && portal.release(u"record"_s));
        QTRY_COMPARE(rig.state->status(), AppStatus::recording);
        QCOMPARE(rig.state->sessionPolishOverride(), false);
        // A second press stops: in the Fn scheme the action alone only picks how the recording ends.
        QVERIFY(portal.press(u"polish"_s));
        QTRY_COMPARE(rig.state->status(), AppStatus::processing);
        QCOMPARE(rig.state->sessionPolishOverride(), true);
        QVERIFY(portal.press(u"cancel"_s));
        QTRY_COMPARE(rig.state->status(), AppStatus::idle);

        // Hold to talk: only letting go of the key that started the recording stops it.
        rig.state->preferences().setTriggerMode(RecordingTriggerMode::ptt);
        QSignalSpy released(&shortcuts, &GlobalShortcuts::deactivated);
        QVERIFY(portal.press(u"translate"_s) && portal.release(u"polish"_s));
        QTRY_COMPARE(released.size(), 1);
        QCOMPARE(rig.state->status(), AppStatus::recording);
        QCOMPARE(rig.state->activeDictationMode(), DictationMode::translate);
        QVERIFY(portal.release(u"translate"_s));
        QTRY_COMPARE(rig.state->status(), AppStatus::processing);
        rig.session()->finalAnswer.resolve(std::nullopt);
        rig.advance(1000);
        QCOMPARE(rig.state->status(), AppStatus::idle);
    }

    void bindAnswers_decideTheShortcuts()
    {
        PortalStandIn portal(connect());
        portal.listsBound = false;
        PortalGlobalShortcuts plasma(connect());
        plasma.bind(PortalHotkeyBridge::actions());
        QTRY_COMPARE(plasma.status(), Status::bound);
        QCOMPARE(plasma.triggers().size(), 4);
        PortalGlobalShortcuts malformed(connect());
        malformed.bind({{QString(), u"无名"_s, {}}});
        QTRY_COMPARE(malformed.status(), Status::failed);
        portal.userDeclines = true;
        PortalGlobalShortcuts declined(connect());
        declined.bind(PortalHotkeyBridge::actions());
        QTRY_COMPARE(declined.status(), Status::failed);
    }

    void portalRestart_bindsAgain()
    {
        PortalGlobalShortcuts shortcuts(connect());
        auto portal = std::make_unique<PortalStandIn>(connect());
        shortcuts.bind(PortalHotkeyBridge::actions());
        QTRY_COMPARE(shortcuts.status(), Status::bound);
        portal.reset();
        QTRY_COMPARE(shortcuts.status(), Status::unavailable);
        portal = std::make_unique<PortalStandIn>(connect());
        QTRY_COMPARE(shortcuts.status(), Status::bound);
        QSignalSpy pressed(&shortcuts, &GlobalShortcuts::activated);
        QVERIFY(portal->press(u"cancel"_s));
        QTRY_COMPARE(pressed.size(), 1);
    }

    void noPortal_isUnavailableAtOnce()
    {
        PortalGlobalShortcuts noBus(QDBusConnection::connectToBus(u"unix:path=/nonexistent"_s, u"dead"_s));
        noBus.bind(PortalHotkeyBridge::actions());
        QTRY_COMPARE_WITH_TIMEOUT(noBus.status(), Status::unavailable, 2000);
        PortalGlobalShortcuts absent(connect());
        absent.bind(PortalHotkeyBridge::actions());
        QVERIFY(absent.available()); // until the bus says otherwise
        QTRY_VERIFY_WITH_TIMEOUT(!absent.available(), 2000);
        QCOMPARE(absent.status(), Status::unavailable);
        // GNOME 43: a portal without the shortcuts interface.
        QDBusConnection gnome = connect();
        QVERIFY(gnome.registerService(u"org.freedesktop.portal.Desktop"_s));
        PortalGlobalShortcuts withoutInterface(connect());
        withoutInterface.bind(PortalHotkeyBridge::actions());
        QTRY_COMPARE_WITH_TIMEOUT(withoutInterface.status(), Status::unavailable, 2000);
    }
};

QTEST_GUILESS_MAIN(TestPortalGlobalShortcuts)
#include "tst_PortalGlobalShortcuts.moc"
