// The paste chord through the RemoteDesktop portal, against a stand-in that follows the portal's published
// interface on the session bus. Run inside scripts/lib/desktop.sh.
#include "platform/linux/RemoteDesktopKeyboard.h"
#include "platform/linux/WaylandKeySynth.h"

#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

// As strict as the real portal: keys reach a session only once it has started with the keyboard granted.
class PortalStandIn : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.RemoteDesktop")
    Q_PROPERTY(uint AvailableDeviceTypes MEMBER devices)

public:
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("portal"));
    uint devices = 3; // keyboard and pointer
    uint startResponse = 0;
    QVariantMap selected; // the last SelectDevices options
    QList<QPair<int, uint>> keys;
    int starts = 0;
    bool running = false; // a session started with the keyboard, until the desktop closes it

    // Answers a request as portals do: the handle now, the Response signal on it a moment later.
    QDBusObjectPath answer(const QVariantMap &options, const QDBusMessage &call, uint response, QVariantMap results)
    {
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                 .arg(call.service().mid(1).replace(u'.', u'_'), options[u"handle_token"_s].toString());
        QTimer::singleShot(10, this, [=, this]() {
            bus.send(QDBusMessage::createSignal(path, u"org.freedesktop.portal.Request"_s, u"Response"_s)
                     << response << results);
        });
        return QDBusObjectPath(path);
    }
    static QString session() { return QStringLiteral("/org/freedesktop/portal/desktop/session/1/s"); }

public slots:
    QDBusObjectPath CreateSession(const QVariantMap &o, const QDBusMessage &m)
    {
        return answer(o, m, 0, {{u"session_handle"_s, session()}});
    }
    QDBusObjectPath SelectDevices(const QDBusObjectPath &, const QVariantMap &o, const QDBusMessage &m)
    {
        selected = o;
        return answer(o, m, 0, {});
    }
    QDBusObjectPath Start(const QDBusObjectPath &, const QString &, const QVariantMap &o, const QDBusMessage &m)
    {
        ++starts;
        running = startResponse == 0 && (selected.value(u"types"_s).toUInt() & 1);
        return answer(o, m, startResponse,
                      {{u"devices"_s, 1u}, {u"restore_token"_s, QStringLiteral("token-%1").arg(starts)}});
    }
    void NotifyKeyboardKeycode(const QDBusObjectPath &, const QVariantMap &, int code, uint state)
    {
        if (running)
            keys << qMakePair(code, state);
        else
            sendErrorReply(QDBusError::AccessDenied, u"Session is not running a keyboard"_s);
    }
};

class tst_RemoteDesktopKeyboard : public QObject
{
    Q_OBJECT

private slots:
    void pasteChord_afterTheUserAllowsIt()
    {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            QSKIP("needs the test desktop's session bus (scripts/lib/desktop.sh)");
        PortalStandIn portal;
        QVERIFY(portal.bus.registerObject(u"/org/freedesktop/portal/desktop"_s, &portal,
                                          QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
        QVERIFY(portal.bus.registerService(u"org.freedesktop.portal.Desktop"_s));
        QTemporaryDir dir;
        using State = RemoteDesktopKeyboard::State;
        RemoteDesktopKeyboard keyboard(QDBusConnection::sessionBus(), dir.filePath(u"token"_s));
        keyboard.probe();
        QTRY_COMPARE(keyboard.state(), State::available);
        // No virtual keyboard for wtype: the first chord is lost while the user is asked.
        WaylandKeySynth keys([]() { return quint64(0); }, u"false"_s, &keyboard);
        const quint64 ctrlShift = KeySynth::flagCommand | KeySynth::flagShift;
        QVERIFY(!keys.postKey(KeySynth::keyV, ctrlShift, true));
        QTRY_COMPARE(keyboard.state(), State::running);
        QCOMPARE(portal.selected.value(u"types"_s).toUInt(), 1u);
        QVERIFY(keys.postKey(KeySynth::keyV, ctrlShift, true) && keys.postKey(KeySynth::keyV, ctrlShift, false));
        const QList<QPair<int, uint>> chord{{29, 1}, {42, 1}, {47, 1}, {47, 0}, {42, 0}, {29, 0}};
        QTRY_COMPARE(portal.keys, chord);

        // Closed by the desktop: started again with the kept permission; a refusal is not asked again.
        portal.running = false;
        portal.bus.send(
            QDBusMessage::createSignal(PortalStandIn::session(), u"org.freedesktop.portal.Session"_s, u"Closed"_s));
        QTRY_COMPARE(keyboard.state(), State::available);
        portal.startResponse = 1;
        QVERIFY(!keys.postKey(KeySynth::keyV, 0, true));
        QTRY_COMPARE(keyboard.state(), State::unavailable);
        QCOMPARE(portal.selected.value(u"restore_token"_s).toString(), u"token-1"_s);
        QVERIFY(!keys.postKey(KeySynth::keyV, 0, true));
        QCOMPARE(portal.starts, 2);
    }
};

QTEST_GUILESS_MAIN(tst_RemoteDesktopKeyboard)
#include "tst_RemoteDesktopKeyboard.moc"
