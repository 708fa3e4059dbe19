#include "FakeHotkeyHost.h"
#include "KeyEvents.h"
#include "QuietDebugEvents.h"
#include "diagnostics/DebugCollector.h"
#include "hotkeys/GlobalHotkeyService.h"
#include "platform/fake/FakeKeyEventTap.h"
#include "platform/fake/ManualClock.h"

#include <QCoreApplication>
#include <QTest>

using namespace KeyTap;
using Status = HotkeyHost::DictationStatus;
using J = QJsonObject;

namespace {
const QString kRecord = QStringLiteral("action:record");
const QString kPolish = QStringLiteral("action:polish");
const QString kTranslate = QStringLiteral("action:translate");

struct Rig {
    ManualClock clock;
    FakeKeyEventTap tap;
    FakeHotkeyHost host;
    std::optional<GlobalHotkeyService> service{std::in_place, host, tap, clock};

    explicit Rig(HotkeyScheme scheme, bool start = true)
    {
        host.scheme = scheme;
        if (start)
            service->start();
    }
    KeyTapVerdict fnDown(quint64 extra = 0) { return tap.flags(keyFn, flagFn | extra); }
    KeyTapVerdict fnUp(quint64 remaining = 0) { return tap.flags(keyFn, remaining); }
    // What the app does when status, scheme or bindings change.
    void changed() { service->refreshSwallowCandidates(); }
    // A tap that holds keys by grabs answers each key press before the interpreter sees it; the interpreter
    // names its candidates so that the two answers agree. (The Fn stand-in is always the program's own.)
    bool answersAgree() const
    {
        return std::all_of(tap.deliveries.begin(), tap.deliveries.end(), [](const FakeKeyEventTap::Delivery &d) {
            return d.event.type != keyDown || d.applied == d.handler;
        });
    }
};
} // namespace

class TestGlobalHotkeyService : public QObject
{
    Q_OBJECT

    // The interpreter's diagnostic records go to a collector on a loopback port.
    DebugCollector m_collector;
    QuietDebugEvents m_home{m_collector.url()};

private slots:
    // First, while no other test's records are on their way.
    void debugEvents_eachStepReportsItsData()
    {
        Rig r(HotkeyScheme::fn, false);
        r.tap.refuseActiveFilter = true;
        r.service->start();
        QTRY_COMPARE(m_collector.requests.size(), 3);
        QCOMPARE(m_collector.data("[DEBUG] hotkey service start"),
                 (J{{QStringLiteral("preflightListenEventAccess"), true},
                    {QStringLiteral("scheme"), QStringLiteral("Fn")}}));
        QCOMPARE(m_collector.data("[DEBUG] event tap enabled"), (J{{QStringLiteral("listenOnly"), true}}));

        // The Fn edge and the combos.
        m_collector.requests.clear();
        r.fnDown();
        r.tap.keyDown(keySpace, flagFn);
        r.tap.keyUp(keySpace, flagFn);
        r.tap.flags(keyShift, flagFn | flagShift);
        r.host.status = Status::recording;
        r.host.mode = DictationMode::translate;
        r.tap.flags(keyShift, flagFn);
        r.fnUp();
        // Fn while recording stops at once, in the mode chosen.
        r.fnDown();
        QCOMPARE(r.host.calls.last(), QStringLiteral("toggle:translate"));
        QTRY_COMPARE(m_collector.withMessage("[DEBUG] fn stop recording").size(), 1);
        QTRY_COMPARE(m_collector.withMessage("[DEBUG] fn edge detected").size(), 2);
        QCOMPARE(m_collector.data("[DEBUG] fn edge detected"), (J{{QStringLiteral("keyCode"), 63},
                                                                  {QStringLiteral("fnNow"), true},
                                                                  {QStringLiteral("fnDown"), false},
                                                                  {QStringLiteral("status"), QStringLiteral("空闲")}}));
        QCOMPARE(m_collector.data("[DEBUG] fn stop recording"),
                 (J{{QStringLiteral("activeMode"), QStringLiteral("语音翻译")}}));
        QCOMPARE(m_collector.data("[DEBUG] fn + space trigger"), (J{{QStringLiteral("keyCode"), 49}}));
        QCOMPARE(m_collector.withMessage("[DEBUG] fn + left shift trigger").size(), 1);
    }

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
        QTest::newRow("modifiers: active") << HotkeyScheme::modifiers << true << 0 << 1 << false << QStringList{};
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
        r.host.record = HotkeyBinding{40, HotkeyBinding::command};
        r.service->start();
        QCOMPARE(r.tap.createCalls, creates);
        const bool tapping = creates > 0 && calls.isEmpty();
        QCOMPARE(r.service->isTapping(), tapping);
        QCOMPARE(r.tap.enabled, tapping);
        QCOMPARE(r.service->isListenOnlyTap(), listenOnly);
        QCOMPARE(r.host.calls, calls);
        if (!tapping)
            return;
        QCOMPARE(r.tap.mode, listenOnly ? KeyEventTap::Mode::listenOnly : KeyEventTap::Mode::activeFilter);
        // Bindings fire on a listen-only tap too, but nothing is taken from the application.
        if (scheme == HotkeyScheme::custom) {
            QCOMPARE(r.tap.keyDown(40, flagCommand), KeyTapVerdict::pass);
            QCOMPARE(r.host.calls, QStringList{kRecord});
            QVERIFY(r.tap.swallowCandidates.isEmpty());
        }
        // A second start makes no second tap and keeps the first kind.
        r.host.scheme = scheme == HotkeyScheme::fn ? HotkeyScheme::modifiers : HotkeyScheme::fn;
        r.service->start();
        QCOMPARE(r.tap.createCalls, creates);
        QCOMPARE(r.tap.enableCalls, 1);
        QCOMPARE(r.service->isListenOnlyTap(), listenOnly);
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
        // An item still pending goes with the service.
        r.host.scheme = HotkeyScheme::fn;
        r.fnUp();
        r.fnDown();
        QCOMPARE(r.clock.pendingTimers(), 1);
        r.service.reset();
        QCOMPARE(r.clock.pendingTimers(), 0);
    }

    void fnScheme_spaceAndLeftShift_recordAndTranslateWhilePendingAndAfterItemRan()
    {
        Rig r(HotkeyScheme::fn);
        // A timer of another part of the program on the same clock: no Fn item, run or not, may cancel it.
        bool otherRan = false;
        r.clock.schedule(10000, [&otherRan] { otherRan = true; });
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
        // Left Shift, not right, translates; no key is taken from the application.
        r.fnDown();
        QCOMPARE(r.tap.flags(keyRightShift, flagFn | flagShift), KeyTapVerdict::pass);
        QCOMPARE(r.host.calls, QStringList{kRecord});
        QCOMPARE(r.tap.flags(keyShift, flagFn | flagShift), KeyTapVerdict::pass);
        r.clock.advance(200);
        QCOMPARE(r.host.calls, (QStringList{kRecord, kTranslate}));
        // Once the Fn item has run, both combos still fire.
        r.tap.flags(keyShift, flagFn);
        r.fnUp();
        r.fnDown();
        r.clock.advance(100);
        QCOMPARE(r.tap.keyDown(keySpace, flagFn), KeyTapVerdict::swallow);
        r.tap.flags(keyShift, flagFn | flagShift);
        QCOMPARE(r.host.calls, (QStringList{kRecord, kTranslate, kPolish, kRecord, kTranslate}));
        QVERIFY(r.answersAgree());
        r.clock.advance(10000);
        QVERIFY(otherRan);
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
        // Modifier taps reach the application, but the Fn stand-in (a real key here) must not.
        QCOMPARE(r.tap.swallowCandidates, (QList<KeyCombo>{KeyCombo{keyFn, 0, true, true}}));
        for (const KeyTapEvent &e : events) {
            const bool rolePress = e.type == flagsChanged && e.keyCode == keyFn && (e.flags & flagFn);
            QCOMPARE(r.tap.send(e), rolePress ? KeyTapVerdict::swallow : KeyTapVerdict::pass);
        }
        QCOMPARE(r.host.calls, calls);
    }

    void custom_binding_firesOnFirstKeyDownOnly_sameBindingTwiceTranslateWins()
    {
        Rig r(HotkeyScheme::custom);
        r.host.record = HotkeyBinding{40, HotkeyBinding::command | HotkeyBinding::shift};
        r.host.polish = HotkeyBinding{keyEscape, 0}; // free while nothing runs
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
        QCOMPARE(r.tap.keyDown(keyEscape), KeyTapVerdict::swallow);
        QCoreApplication::processEvents();
        QCOMPARE(r.host.calls, (QStringList{kRecord, kPolish}));
        // One binding on every action: translate wins, then polish.
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
        QCOMPARE(r.host.calls, (QStringList{kRecord, kPolish, kTranslate, kPolish, kRecord}));
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
        // Fn let go, after it fired or after a typed key, is up: in the Fn scheme chosen next, Space is not held.
        const auto spaceFreeInFnScheme = [&r]() {
            r.host.scheme = HotkeyScheme::fn;
            r.changed();
            const bool held = std::any_of(r.tap.swallowCandidates.begin(), r.tap.swallowCandidates.end(),
                                          [](const KeyCombo &c) { return c.keyCode == keySpace; });
            r.host.scheme = HotkeyScheme::custom;
            r.changed();
            return !held;
        };
        QVERIFY(spaceFreeInFnScheme());
        // A key typed between two taps belongs to neither.
        r.tap.keyDown(keyA, 0);
        r.fnDown();
        r.fnUp();
        QCOMPARE(r.host.calls, (QStringList{kTranslate, kTranslate}));
        for (const bool repeat : {false, true}) { // an autorepeat counts as typing too
            r.fnDown();
            r.tap.keyDown(keyA, flagFn, repeat);
            QCOMPARE(r.fnUp(), KeyTapVerdict::pass);
        }
        QCOMPARE(r.host.calls.size(), 2);
        QVERIFY(spaceFreeInFnScheme());
        // Shift released under Command matches a Shift binding with Command.
        r.host.polish = HotkeyBinding{keyShift, HotkeyBinding::command};
        r.changed();
        r.tap.flags(keyCommand, flagCommand);
        r.tap.flags(keyShift, flagCommand | flagShift);
        // A release cannot be taken back from the desktop.
        QCOMPARE(r.tap.flags(keyShift, flagCommand), KeyTapVerdict::pass);
        QCOMPARE(r.tap.flags(keyCommand, 0), KeyTapVerdict::pass);
        QCOMPARE(r.host.calls, (QStringList{kTranslate, kTranslate, kPolish}));
        QVERIFY(r.answersAgree());
    }
};

QTEST_GUILESS_MAIN(TestGlobalHotkeyService)
#include "tst_GlobalHotkeyService.moc"
