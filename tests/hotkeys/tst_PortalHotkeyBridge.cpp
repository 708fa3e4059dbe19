#include "FakeHotkeyHost.h"
#include "hotkeys/PortalHotkeyBridge.h"
#include "platform/fake/FakeGlobalShortcuts.h"

#include <QTest>

using namespace Qt::StringLiterals;
using Status = HotkeyHost::DictationStatus;

namespace {
// The host's commands for presses ("+id") and releases ("-id") of the desktop's shortcuts, from `status`.
QStringList commands(HotkeyScheme scheme, RecordingTriggerMode trigger, Status status, const QStringList &keys)
{
    FakeGlobalShortcuts desktop;
    FakeHotkeyHost host;
    host.scheme = scheme;
    host.trigger = trigger;
    host.status = status;
    host.mode = DictationMode::translate;
    // As the state: an action starts an idle dictation; outside the Fn scheme it also stops a running one.
    host.onAction = [&host] {
        if (host.status == Status::idle || host.scheme != HotkeyScheme::fn)
            host.status = host.status == Status::idle ? Status::recording : Status::processing;
    };
    PortalHotkeyBridge bridge(host, desktop);
    bridge.start();
    if (desktop.press(u"record"_s)) // nothing before the desktop's answer
        return {u"early"_s};
    desktop.answerBind();
    for (const QString &key : keys) {
        if (!(key.startsWith(u'+') ? desktop.press(key.mid(1)) : desktop.release(key.mid(1))))
            return {u"unbound "_s + key};
        if (host.calls.endsWith(u"toggle:translate"_s))
            host.status = Status::processing;
    }
    return host.calls;
}
} // namespace

class TestPortalHotkeyBridge : public QObject
{
    Q_OBJECT

private slots:
    void shortcuts_commandTheHost()
    {
        const auto fn = HotkeyScheme::fn;
        const auto toggle = RecordingTriggerMode::toggle;
        QCOMPARE(commands(fn, toggle, Status::idle, {u"+translate"_s, u"-translate"_s}),
                 QStringList{u"action:translate"_s});
        QCOMPARE(commands(fn, toggle, Status::idle, {u"+cancel"_s}), QStringList{});
        QCOMPARE(commands(fn, toggle, Status::processing, {u"+cancel"_s}), QStringList{u"cancel"_s});
        // A second press stops: in the Fn scheme the action only picks how the recording ends.
        QCOMPARE(commands(fn, toggle, Status::recording, {u"+record"_s}),
                 (QStringList{u"action:record"_s, u"toggle:translate"_s}));
        QCOMPARE(commands(HotkeyScheme::custom, toggle, Status::recording, {u"+polish"_s}),
                 QStringList{u"action:polish"_s});
        // Hold to talk: only letting go of the key that started the recording stops it.
        QCOMPARE(commands(fn, RecordingTriggerMode::ptt, Status::idle, {u"+polish"_s, u"-record"_s, u"-polish"_s}),
                 (QStringList{u"action:polish"_s, u"toggle:translate"_s}));
    }
};

QTEST_GUILESS_MAIN(TestPortalHotkeyBridge)
#include "tst_PortalHotkeyBridge.moc"
