#include "FakeHotkeyHost.h"
#include "QuietDebugEvents.h"
#include "hotkeys/GlobalHotkeyService.h"
#include "hotkeys/PortalHotkeyBridge.h"
#include "platform/fake/FakeGlobalShortcuts.h"
#include "platform/fake/FakeKeyEventTap.h"
#include "platform/fake/ManualClock.h"

#include <QCoreApplication>
#include <QTest>

using namespace KeyTap;
using namespace Qt::StringLiterals;
using Status = HotkeyHost::DictationStatus;

namespace {
const QString kRecord = QStringLiteral("action:record");
const QString kPolish = QStringLiteral("action:polish");
const QString kTranslate = QStringLiteral("action:translate");

struct Rig {
    ManualClock clock;
    FakeKeyEventTap tap;
    FakeHotkeyHost host;
    GlobalHotkeyService service{host, tap, clock};

    explicit Rig(HotkeyScheme scheme, bool start = true)
    {
        host.scheme = scheme;
        if (start)
            service.start();
    }
    KeyTapVerdict fnDown(quint64 extra = 0) { return tap.flags(keyFn, flagFn | extra); }
    KeyTapVerdict fnUp(quint64 remaining = 0) { return tap.flags(keyFn, remaining); }
    // What the app does when status, scheme or bindings change.
    void changed() { service.refreshSwallowCandidates(); }
    // A tap that holds keys by grabs answers each key press before the interpreter sees it; the interpreter
    // names its candidates so that the two answers agree. (The Fn stand-in is always the program's own.)
    bool answersAgree() const
    {
        return std::all_of(tap.deliveries.begin(), tap.deliveries.end(), [](const FakeKeyEventTap::Delivery &d) {
            return d.event.type != keyDown || d.applied == d.handler;
        });
    }
};

KeyTapEvent flags(quint16 key, quint64 f)
{
    return KeyTapEvent{flagsChanged, key, f, false};
}
KeyTapEvent down(quint16 key, quint64 f, bool repeat = false)
{
    return KeyTapEvent{keyDown, key, f, repeat};
}

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

class TestGlobalHotkeyService : public QObject
{
    Q_OBJECT

    QuietDebugEvents m_quiet;

private slots:
    void start_data()
    {
        QTest::addColumn<HotkeyScheme>("scheme");
        QTest::addColumn<bool>("granted");
        QTest::addColumn<int>("refused"); // 1: active filter, 2: both kinds
        QTest::addColumn<int>("creates");
        QTest::addColumn<bool>("listenOnly");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("no input monitoring") << HotkeyScheme::fn << false << 0 << 0 << false << QStringList{};
        QTest::newRow("fn: active") << HotkeyScheme::fn << true << 0 << 1 << false << QStringList{};
        QTest::newRow("modifiers: listen-only") << HotkeyScheme::modifiers << true << 0 << 1 << true << QStringList{};
        QTest::newRow("active refused") << HotkeyScheme::custom << true << 1 << 2 << true << QStringList{};
        QTest::newRow("both refused")
            << HotkeyScheme::custom << true << 2 << 2 << false
            << QStringList{
                   QStringLiteral("error:无法启用全局热键：系统拒绝创建键盘监听（即使已开启「输入监控」也可能失败）。"
                                  "可尝试关闭 App Sandbox，或改用「自定义组合键」方案。")};
    }
    void start()
    {
        QFETCH(HotkeyScheme, scheme);
        QFETCH(bool, granted);
        QFETCH(int, refused);
        QFETCH(int, creates);
        QFETCH(bool, listenOnly);
        QFETCH(QStringList, calls);
        Rig r(scheme, false);
        r.tap.granted = granted;
        r.tap.refuseActiveFilter = refused >= 1;
        r.tap.refuseListenOnly = refused >= 2;
        r.service.start();
        QCOMPARE(r.tap.createCalls, creates);
        const bool tapping = creates > 0 && calls.isEmpty();
        QCOMPARE(r.service.isTapping(), tapping);
        QCOMPARE(r.tap.enabled, tapping);
        QCOMPARE(r.service.isListenOnlyTap(), listenOnly);
        QCOMPARE(r.host.calls, calls);
        if (!tapping)
            return;
        QCOMPARE(r.tap.mode, listenOnly ? KeyEventTap::Mode::listenOnly : KeyEventTap::Mode::activeFilter);
        // A second start makes no second tap and keeps the first kind.
        r.host.scheme = scheme == HotkeyScheme::fn ? HotkeyScheme::modifiers : HotkeyScheme::fn;
        r.service.start();
        QCOMPARE(r.tap.createCalls, creates);
        QCOMPARE(r.tap.enableCalls, 1);
        QCOMPARE(r.service.isListenOnlyTap(), listenOnly);
    }

    void custom_listenOnlyFallback_firesWithoutSwallowing()
    {
        Rig r(HotkeyScheme::custom, false);
        r.tap.refuseActiveFilter = true;
        r.host.record = HotkeyBinding{40, HotkeyBinding::command};
        r.service.start();
        QCOMPARE(r.tap.keyDown(40, flagCommand), KeyTapVerdict::pass);
        QCOMPARE(r.host.calls, QStringList{kRecord});
        QVERIFY(r.tap.swallowCandidates.isEmpty());
    }

    void fnScheme_fnAlone_firesPolishAfter60msOnce()
    {
        Rig r(HotkeyScheme::fn);
        // The Fn stand-in never reaches applications.
        QCOMPARE(r.fnDown(), KeyTapVerdict::swallow);
        r.clock.advance(59);
        QVERIFY(r.host.calls.isEmpty());
        r.clock.advance(1);
        QCOMPARE(r.host.calls, QStringList{kPolish});
        // Holding Fn longer or repeating its flags event fires nothing more.
        r.fnDown();
        r.clock.advance(500);
        QCOMPARE(r.fnUp(), KeyTapVerdict::pass);
        // A quick tap still fires once the delay is over.
        r.fnDown();
        r.clock.advance(20);
        r.fnUp();
        QCOMPARE(r.host.calls, QStringList{kPolish});
        r.clock.advance(40);
        QCOMPARE(r.host.calls, (QStringList{kPolish, kPolish}));
        // Pressed again while the item waits: one item, one action.
        r.fnDown();
        r.fnUp();
        r.fnDown();
        r.clock.advance(60);
        QCOMPARE(r.host.calls.size(), 3);
        r.fnUp();
        // A scheme change before the delay cancels the item.
        r.fnDown();
        r.host.scheme = HotkeyScheme::custom;
        r.clock.advance(100);
        QCOMPARE(r.host.calls.size(), 3);
        QVERIFY(r.answersAgree());
    }

    void destructor_dropsThePendingFnItem()
    {
        ManualClock clock;
        FakeKeyEventTap tap;
        FakeHotkeyHost host;
        auto service = std::make_unique<GlobalHotkeyService>(host, tap, clock);
        service->start();
        tap.flags(keyFn, flagFn);
        QCOMPARE(clock.pendingTimers(), 1);
        service.reset();
        QCOMPARE(clock.pendingTimers(), 0);
    }

    void fnScheme_fnWhileRecording_togglesAtOnce()
    {
        Rig r(HotkeyScheme::fn);
        r.host.status = Status::recording;
        r.host.mode = DictationMode::translate;
        r.fnDown();
        QCOMPARE(r.host.calls, QStringList{QStringLiteral("toggle:translate")});
        QCOMPARE(r.clock.pendingTimers(), 0);
    }

    void fnScheme_spaceWhilePending_recordsAndSwallows()
    {
        Rig r(HotkeyScheme::fn);
        r.fnDown();
        QCOMPARE(r.tap.keyDown(keySpace, flagFn), KeyTapVerdict::swallow);
        QCOMPARE(r.host.calls, QStringList{kRecord});
        r.clock.advance(200);
        // The release of Space and a repeat neither fire nor get swallowed.
        QCOMPARE(r.tap.keyDown(keySpace, flagFn, true), KeyTapVerdict::pass);
        QCOMPARE(r.tap.keyUp(keySpace, flagFn), KeyTapVerdict::pass);
        // Space without the Fn flag is an ordinary key.
        r.fnUp();
        QCOMPARE(r.tap.keyDown(keySpace, 0), KeyTapVerdict::pass);
        QCOMPARE(r.host.calls, QStringList{kRecord});
        QVERIFY(r.answersAgree());
    }

    void fnScheme_leftShift_translatesWithoutSwallowingAndAfterItemRan()
    {
        Rig r(HotkeyScheme::fn);
        r.fnDown();
        QCOMPARE(r.tap.flags(keyRightShift, flagFn | flagShift), KeyTapVerdict::pass);
        QVERIFY(r.host.calls.isEmpty());
        QCOMPARE(r.tap.flags(keyShift, flagFn | flagShift), KeyTapVerdict::pass);
        r.clock.advance(200);
        QCOMPARE(r.host.calls, QStringList{kTranslate});
        // Once the Fn item has run, both combos still fire.
        r.tap.flags(keyShift, flagFn);
        r.fnUp();
        r.fnDown();
        r.clock.advance(100);
        QCOMPARE(r.tap.keyDown(keySpace, flagFn), KeyTapVerdict::swallow);
        r.tap.flags(keyShift, flagFn | flagShift);
        QCOMPARE(r.host.calls, (QStringList{kTranslate, kPolish, kRecord, kTranslate}));
        QVERIFY(r.answersAgree());
    }

    void escape_cancelsOnlyWhileBusy_data()
    {
        QTest::addColumn<HotkeyScheme>("scheme");
        QTest::addColumn<Status>("status");
        QTest::newRow("fn recording") << HotkeyScheme::fn << Status::recording;
        QTest::newRow("custom processing") << HotkeyScheme::custom << Status::processing;
        QTest::newRow("idle") << HotkeyScheme::fn << Status::idle;
        QTest::newRow("error") << HotkeyScheme::fn << Status::error;
    }
    void escape_cancelsOnlyWhileBusy()
    {
        QFETCH(HotkeyScheme, scheme);
        QFETCH(Status, status);
        const bool busy = status == Status::recording || status == Status::processing;
        Rig r(scheme);
        r.host.status = status;
        r.changed();
        QCOMPARE(r.tap.keyDown(keyEscape), busy ? KeyTapVerdict::swallow : KeyTapVerdict::pass);
        // Held down, it stays the program's.
        QCOMPARE(r.tap.keyDown(keyEscape, 0, true), busy ? KeyTapVerdict::swallow : KeyTapVerdict::pass);
        // Posted: the callback returns before the cancel runs.
        QVERIFY(r.host.calls.isEmpty());
        QCoreApplication::processEvents();
        const QStringList cancels{QStringLiteral("cancel"), QStringLiteral("cancel")};
        QCOMPARE(r.host.calls, busy ? cancels : QStringList{});
        QCOMPARE(r.tap.keyUp(keyEscape), KeyTapVerdict::pass);
        QVERIFY(r.answersAgree());
    }

    void escape_whileIdle_mayMatchBinding()
    {
        Rig r(HotkeyScheme::custom);
        r.host.polish = HotkeyBinding{keyEscape, 0};
        r.changed();
        QCOMPARE(r.tap.keyDown(keyEscape), KeyTapVerdict::swallow);
        QCoreApplication::processEvents();
        QCOMPARE(r.host.calls, QStringList{kPolish});
    }

    void modifiers_taps_data()
    {
        QTest::addColumn<QList<KeyTapEvent>>("events");
        QTest::addColumn<QStringList>("calls");
        const quint64 ctl = flagControl, cmd = flagCommand;
        QTest::newRow("control") << QList{flags(keyControl, ctl), flags(keyControl, 0)} << QStringList{kPolish};
        QTest::newRow("command") << QList{flags(keyCommand, cmd), flags(keyCommand, 0)} << QStringList{kTranslate};
        QTest::newRow("fn") << QList{flags(keyFn, flagFn), flags(keyFn, 0)} << QStringList{kRecord};
        QTest::newRow("press only") << QList{flags(keyControl, ctl)} << QStringList{};
        // A spoiled tap leaves no trace on the next one; a repeat or key-up does not spoil.
        QTest::newRow("typed key spoils")
            << QList{flags(keyControl, ctl), down(keyA, ctl),       flags(keyControl, 0),
                     flags(keyControl, ctl), down(keyA, ctl, true), KeyTapEvent{keyUp, keyA, ctl, false},
                     flags(keyControl, 0)}
            << QStringList{kPolish};
        QTest::newRow("typed key spoils command and fn")
            << QList{flags(keyCommand, cmd), down(keyA, cmd), flags(keyCommand, 0),
                     flags(keyFn, flagFn),    down(keyA, flagFn), flags(keyFn, 0)}
            << QStringList{};
        QTest::newRow("caps lock spoils command")
            << QList{flags(keyCommand, cmd), flags(keyCapsLock, cmd | flagCapsLock), flags(keyCommand, flagCapsLock)}
            << QStringList{};
        QTest::newRow("shift does not spoil command") << QList{flags(keyCommand, cmd), flags(keyShift, cmd | flagShift),
                                                               flags(keyShift, cmd), flags(keyCommand, 0)}
                                                      << QStringList{kTranslate};
        QTest::newRow("caps lock does not spoil fn")
            << QList{flags(keyFn, flagFn), flags(keyCapsLock, flagFn | flagCapsLock), flags(keyFn, flagCapsLock)}
            << QStringList{kRecord};
        QTest::newRow("control and command released together")
            << QList{flags(keyControl, ctl), flags(keyCommand, ctl | cmd), flags(keyCommand, 0)}
            << QStringList{kPolish, kTranslate};
    }
    void modifiers_taps()
    {
        QFETCH(QList<KeyTapEvent>, events);
        QFETCH(QStringList, calls);
        Rig r(HotkeyScheme::modifiers);
        for (const KeyTapEvent &e : events)
            QCOMPARE(r.tap.send(e), KeyTapVerdict::pass);
        QCOMPARE(r.host.calls, calls);
    }

    void custom_binding_firesOnFirstKeyDownOnly()
    {
        Rig r(HotkeyScheme::custom);
        r.host.record = HotkeyBinding{40, HotkeyBinding::command | HotkeyBinding::shift};
        r.changed();
        r.tap.flags(keyCommand, flagCommand);
        r.tap.flags(keyShift, flagCommand | flagShift);
        // Caps Lock and Fn do not matter.
        QCOMPARE(r.tap.keyDown(40, flagCommand | flagShift | flagCapsLock | flagFn), KeyTapVerdict::swallow);
        QCOMPARE(r.tap.keyDown(40, flagCommand | flagShift, true), KeyTapVerdict::pass);
        QCOMPARE(r.tap.keyUp(40, flagCommand | flagShift), KeyTapVerdict::pass);
        // An extra or a missing modifier breaks the match.
        QCOMPARE(r.tap.keyDown(40, flagCommand | flagShift | flagOption), KeyTapVerdict::pass);
        QCOMPARE(r.tap.keyDown(40, flagCommand), KeyTapVerdict::pass);
        // AltGr is no Option, and while held it breaks every match.
        QCOMPARE(r.tap.keyDown(40, flagCommand | flagShift | flagAltGr), KeyTapVerdict::pass);
        QCOMPARE(r.host.calls, QStringList{kRecord});
        QVERIFY(r.answersAgree());
    }

    void custom_sameBindingTwice_translateWinsThenPolish()
    {
        Rig r(HotkeyScheme::custom);
        r.host.record = r.host.polish = r.host.translate = HotkeyBinding{96, 0};
        r.changed();
        r.tap.keyDown(96);
        r.host.translate.reset();
        r.tap.keyDown(96);
        r.host.polish.reset();
        r.tap.keyDown(96);
        r.host.record.reset();
        r.changed();
        QCOMPARE(r.tap.keyDown(96), KeyTapVerdict::pass);
        QCOMPARE(r.host.calls, (QStringList{kTranslate, kPolish, kRecord}));
        QVERIFY(r.answersAgree());
    }

    void custom_modifierOnlyBinding_firesOnReleaseUnlessKeyTyped()
    {
        Rig r(HotkeyScheme::custom);
        r.host.translate = HotkeyBinding{keyFn, 0};
        r.changed();
        // The Fn stand-in is the program's own key; its release fires the binding.
        QCOMPARE(r.fnDown(), KeyTapVerdict::swallow);
        QVERIFY(r.host.calls.isEmpty());
        r.fnUp();
        QCOMPARE(r.host.calls, QStringList{kTranslate});
        for (const bool repeat : {false, true}) { // an autorepeat counts as typing too
            r.fnDown();
            r.tap.keyDown(keyA, flagFn, repeat);
            QCOMPARE(r.fnUp(), KeyTapVerdict::pass);
        }
        QCOMPARE(r.host.calls, QStringList{kTranslate});
        // Shift released under Command matches a Shift binding with Command.
        r.host.polish = HotkeyBinding{keyShift, HotkeyBinding::command};
        r.changed();
        r.tap.flags(keyCommand, flagCommand);
        r.tap.flags(keyShift, flagCommand | flagShift);
        // A release cannot be taken back from the desktop.
        QCOMPARE(r.tap.flags(keyShift, flagCommand), KeyTapVerdict::pass);
        QCOMPARE(r.tap.flags(keyCommand, 0), KeyTapVerdict::pass);
        QCOMPARE(r.host.calls, (QStringList{kTranslate, kPolish}));
        QVERIFY(r.answersAgree());
    }

    // Fn let go after it fired a binding is up: in the Fn scheme chosen next, the first press counts and Space
    // is not held.
    void schemeChange_afterFnBindingFired_fnIsUp()
    {
        Rig r(HotkeyScheme::custom);
        r.host.translate = HotkeyBinding{keyFn, 0};
        r.changed();
        r.fnDown();
        r.fnUp();
        r.host.scheme = HotkeyScheme::fn;
        r.changed();
        QVERIFY(!std::any_of(r.tap.swallowCandidates.begin(), r.tap.swallowCandidates.end(),
                             [](const KeyCombo &c) { return c.keyCode == keySpace; }));
        r.fnDown();
        r.clock.advance(60);
        QCOMPARE(r.host.calls, (QStringList{kTranslate, kPolish}));
    }

    // The desktop's shortcuts, where no key tap is allowed, command the host as the tap's keys do.
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

QTEST_GUILESS_MAIN(TestGlobalHotkeyService)
#include "tst_GlobalHotkeyService.moc"
