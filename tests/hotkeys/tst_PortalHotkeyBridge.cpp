#include "FakeHotkeyHost.h"
#include "hotkeys/PortalHotkeyBridge.h"
#include "platform/fake/FakeGlobalShortcuts.h"

#include <QTest>

using namespace Qt::StringLiterals;
using Status = HotkeyHost::DictationStatus;

class TestPortalHotkeyBridge : public QObject
{
    Q_OBJECT

private slots:
    // Each row: the host's state, then presses ("+id") and releases ("-id") of bound shortcuts.
    void shortcuts_commandTheHost_data()
    {
        QTest::addColumn<HotkeyScheme>("scheme");
        QTest::addColumn<RecordingTriggerMode>("trigger");
        QTest::addColumn<Status>("status");
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QStringList>("calls");
        const auto fn = HotkeyScheme::fn;
        const auto custom = HotkeyScheme::custom;
        const auto toggle = RecordingTriggerMode::toggle;
        const auto ptt = RecordingTriggerMode::ptt;
        QTest::newRow("idle: each action starts, its release does nothing")
            << fn << toggle << Status::idle << QStringList{u"+translate"_s, u"-translate"_s}
            << QStringList{u"action:translate"_s};
        QTest::newRow("idle: cancel has nothing to cancel")
            << fn << toggle << Status::idle << QStringList{u"+cancel"_s} << QStringList{};
        QTest::newRow("processing: cancel")
            << fn << toggle << Status::processing << QStringList{u"+cancel"_s} << QStringList{u"cancel"_s};
        QTest::newRow("recording, Fn scheme: the action picks the mode, then stops")
            << fn << toggle << Status::recording << QStringList{u"+record"_s}
            << QStringList{u"action:record"_s, u"toggle:translate"_s};
        QTest::newRow("recording, custom scheme: the action itself stops")
            << custom << toggle << Status::recording << QStringList{u"+polish"_s} << QStringList{u"action:polish"_s};
        QTest::newRow("hold to talk: releasing the starting key stops")
            << custom << ptt << Status::idle << QStringList{u"+polish"_s, u"-record"_s, u"-polish"_s, u"-polish"_s}
            << QStringList{u"action:polish"_s, u"toggle:translate"_s};
    }
    void shortcuts_commandTheHost()
    {
        QFETCH(HotkeyScheme, scheme);
        QFETCH(RecordingTriggerMode, trigger);
        QFETCH(Status, status);
        QFETCH(QStringList, keys);
        QFETCH(QStringList, calls);
        FakeGlobalShortcuts desktop;
        FakeHotkeyHost host;
        host.scheme = scheme;
        host.trigger = trigger;
        host.status = status;
        host.mode = DictationMode::translate;
        // As the state: an action starts an idle dictation; outside the Fn scheme it stops a running one.
        host.onAction = [&host] {
            if (host.status == Status::idle)
                host.status = Status::recording;
            else if (host.scheme != HotkeyScheme::fn)
                host.status = Status::processing;
        };
        PortalHotkeyBridge bridge(host, desktop);
        bridge.start();
        QVERIFY(!desktop.press(u"record"_s)); // nothing before the desktop's answer
        desktop.answerBind();
        QCOMPARE(desktop.triggers().size(), 4);
        for (const QString &key : keys) {
            const QString id = key.mid(1);
            QVERIFY(key.startsWith(u'+') ? desktop.press(id) : desktop.release(id));
            if (host.calls.endsWith(u"toggle:translate"_s))
                host.status = Status::processing;
        }
        QCOMPARE(host.calls, calls);
    }
};

QTEST_GUILESS_MAIN(TestPortalHotkeyBridge)
#include "tst_PortalHotkeyBridge.moc"
