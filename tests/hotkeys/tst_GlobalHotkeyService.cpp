#include "FakeHotkeyHost.h"
#include "QuietDebugEvents.h"
#include "hotkeys/GlobalHotkeyService.h"
#include "platform/fake/FakeKeyEventTap.h"
#include "platform/fake/ManualClock.h"

#include <QCoreApplication>
#include <QTest>
#include <memory>

using namespace KeyTap;

namespace {
const QString kRecord = QStringLiteral("action:record");
const QString kPolish = QStringLiteral("action:polish");
const QString kTranslate = QStringLiteral("action:translate");

struct Rig {
    ManualClock clock;
    FakeKeyEventTap tap;
    FakeHotkeyHost host;
    GlobalHotkeyService service{host, tap, clock};

    explicit Rig(HotkeyScheme scheme)
    {
        host.scheme = scheme;
        service.start();
    }
    KeyTapVerdict fnDown(quint64 extra = 0) { return tap.flags(keyFn, flagFn | extra); }
    KeyTapVerdict fnUp(quint64 remaining = 0) { return tap.flags(keyFn, remaining); }
};

std::unique_ptr<Rig> rig(HotkeyScheme scheme)
{
    return std::make_unique<Rig>(scheme);
}

bool holds(const QList<KeyCombo> &combos, quint16 keyCode)
{
    for (const KeyCombo &c : combos) {
        if (c.keyCode == keyCode)
            return true;
    }
    return false;
}
} // namespace

class TestGlobalHotkeyService : public QObject
{
    Q_OBJECT

    QuietDebugEvents m_quiet;

private slots:
    void start_inputMonitoringMissing_makesNoTapAndNoError()
    {
        ManualClock clock;
        FakeKeyEventTap tap;
        FakeHotkeyHost host;
        tap.granted = false;
        GlobalHotkeyService service(host, tap, clock);
        service.start();
        QCOMPARE(tap.createCalls, 0);
        QVERIFY(!service.isTapping());
        QVERIFY(host.calls.isEmpty());
    }

    void start_bySchemeAndRefusals_choosesTapKind()
    {
        {
            auto r = rig(HotkeyScheme::fn);
            QCOMPARE(r->tap.mode, KeyEventTap::Mode::activeFilter);
            QVERIFY(r->tap.enabled);
            QVERIFY(!r->service.isListenOnlyTap());
        }
        {
            auto r = rig(HotkeyScheme::modifiers);
            QCOMPARE(r->tap.createCalls, 1);
            QCOMPARE(r->tap.mode, KeyEventTap::Mode::listenOnly);
            QVERIFY(r->service.isListenOnlyTap());
        }
        {
            ManualClock clock;
            FakeKeyEventTap tap;
            FakeHotkeyHost host;
            host.scheme = HotkeyScheme::custom;
            tap.refuseActiveFilter = true;
            GlobalHotkeyService service(host, tap, clock);
            service.start();
            QCOMPARE(tap.createCalls, 2);
            QCOMPARE(tap.mode, KeyEventTap::Mode::listenOnly);
            QVERIFY(service.isListenOnlyTap());
            // Fires, but cannot swallow.
            host.record = HotkeyBinding{40, HotkeyBinding::command};
            QCOMPARE(service.handleEvent(KeyTapEvent{keyDown, 40, flagCommand, false}), KeyTapVerdict::pass);
            QCOMPARE(host.calls, QStringList{kRecord});
            QVERIFY(tap.swallowCandidates.isEmpty());
        }
    }

    void start_bothKindsRefused_showsError()
    {
        ManualClock clock;
        FakeKeyEventTap tap;
        FakeHotkeyHost host;
        tap.refuseActiveFilter = tap.refuseListenOnly = true;
        GlobalHotkeyService service(host, tap, clock);
        service.start();
        QCOMPARE(host.calls, QStringList{QStringLiteral(
                                 "error:无法启用全局热键：系统拒绝创建键盘监听（即使已开启「输入监控」也可能失败）。"
                                 "可尝试关闭 App Sandbox，或改用「自定义组合键」方案。")});
        QVERIFY(!service.isTapping());
        QVERIFY(!tap.enabled);
    }

    void start_secondCall_makesNoSecondTap()
    {
        auto r = rig(HotkeyScheme::fn);
        r->host.scheme = HotkeyScheme::modifiers;
        r->service.start();
        QCOMPARE(r->tap.createCalls, 1);
        QCOMPARE(r->tap.enableCalls, 1);
        // The tap kind stays what the first start chose.
        QCOMPARE(r->tap.mode, KeyEventTap::Mode::activeFilter);
    }

    void fnScheme_fnAlone_firesPolishAfter60ms()
    {
        auto r = rig(HotkeyScheme::fn);
        QCOMPARE(r->fnDown(), KeyTapVerdict::pass);
        r->clock.advance(59);
        QVERIFY(r->host.calls.isEmpty());
        r->clock.advance(1);
        QCOMPARE(r->host.calls, QStringList{kPolish});
        // Holding Fn longer or repeating its flags event fires nothing more.
        r->fnDown();
        r->clock.advance(500);
        QCOMPARE(r->host.calls, QStringList{kPolish});
        QCOMPARE(r->fnUp(), KeyTapVerdict::pass);
        r->fnDown();
        r->clock.advance(60);
        QCOMPARE(r->host.calls, (QStringList{kPolish, kPolish}));
    }

    void fnScheme_quickTap_stillFiresAfterRelease()
    {
        auto r = rig(HotkeyScheme::fn);
        r->fnDown();
        r->clock.advance(20);
        r->fnUp();
        QVERIFY(r->host.calls.isEmpty());
        r->clock.advance(40);
        QCOMPARE(r->host.calls, QStringList{kPolish});
    }

    void fnScheme_schemeChangedBeforeDelay_firesNothing()
    {
        auto r = rig(HotkeyScheme::fn);
        r->fnDown();
        r->host.scheme = HotkeyScheme::custom;
        r->clock.advance(100);
        QVERIFY(r->host.calls.isEmpty());
    }

    void fnScheme_fnWhileRecording_togglesAtOnce()
    {
        auto r = rig(HotkeyScheme::fn);
        r->host.status = HotkeyHost::DictationStatus::recording;
        r->host.mode = DictationMode::translate;
        QCOMPARE(r->fnDown(), KeyTapVerdict::pass);
        QCOMPARE(r->host.calls, QStringList{QStringLiteral("toggle:translate")});
        QCOMPARE(r->clock.pendingTimers(), 0);
    }

    void fnScheme_spaceWhilePending_recordsAndSwallows()
    {
        auto r = rig(HotkeyScheme::fn);
        r->fnDown();
        QCOMPARE(r->tap.keyDown(keySpace, flagFn), KeyTapVerdict::swallow);
        QCOMPARE(r->host.calls, QStringList{kRecord});
        r->clock.advance(200);
        QCOMPARE(r->host.calls, QStringList{kRecord});
        // The release of Space and a repeat neither fire nor get swallowed.
        QCOMPARE(r->tap.keyDown(keySpace, flagFn, true), KeyTapVerdict::pass);
        QCOMPARE(r->tap.keyUp(keySpace, flagFn), KeyTapVerdict::pass);
        // Space without the Fn flag is an ordinary key.
        r->fnUp();
        QCOMPARE(r->tap.keyDown(keySpace, 0), KeyTapVerdict::pass);
        QCOMPARE(r->host.calls, QStringList{kRecord});
    }

    void fnScheme_leftShiftWhilePending_translatesWithoutSwallowing()
    {
        auto r = rig(HotkeyScheme::fn);
        r->fnDown();
        QCOMPARE(r->tap.flags(keyRightShift, flagFn | flagShift), KeyTapVerdict::pass);
        QVERIFY(r->host.calls.isEmpty());
        QCOMPARE(r->tap.flags(keyShift, flagFn | flagShift), KeyTapVerdict::pass);
        QCOMPARE(r->host.calls, QStringList{kTranslate});
        r->clock.advance(200);
        QCOMPARE(r->host.calls, QStringList{kTranslate});
    }

    void fnScheme_comboAfterItemRan_firesBoth()
    {
        auto r = rig(HotkeyScheme::fn);
        r->fnDown();
        r->clock.advance(100);
        QCOMPARE(r->tap.keyDown(keySpace, flagFn), KeyTapVerdict::swallow);
        r->tap.flags(keyShift, flagFn | flagShift);
        QCOMPARE(r->host.calls, (QStringList{kPolish, kRecord, kTranslate}));
    }

    void fnScheme_swallowCandidates_followFnAndStatus()
    {
        auto r = rig(HotkeyScheme::fn);
        QVERIFY(holds(r->tap.swallowCandidates, keyFn));
        QVERIFY(!holds(r->tap.swallowCandidates, keySpace));
        r->fnDown();
        QVERIFY(holds(r->tap.swallowCandidates, keySpace));
        r->fnUp();
        QVERIFY(!holds(r->tap.swallowCandidates, keySpace));
        QVERIFY(!holds(r->tap.swallowCandidates, keyEscape));
        r->host.status = HotkeyHost::DictationStatus::processing;
        r->service.refreshSwallowCandidates();
        QVERIFY(holds(r->tap.swallowCandidates, keyEscape));
    }

    void escape_whileBusy_postsCancelAndSwallows()
    {
        for (const HotkeyScheme scheme : {HotkeyScheme::fn, HotkeyScheme::custom}) {
            for (const HotkeyHost::DictationStatus status :
                 {HotkeyHost::DictationStatus::recording, HotkeyHost::DictationStatus::processing}) {
                auto r = rig(scheme);
                r->host.status = status;
                QCOMPARE(r->tap.keyDown(keyEscape), KeyTapVerdict::swallow);
                // Posted: the callback returns before the cancel runs.
                QVERIFY(r->host.calls.isEmpty());
                QCoreApplication::processEvents();
                QCOMPARE(r->host.calls, QStringList{QStringLiteral("cancel")});
                QCOMPARE(r->tap.keyUp(keyEscape), KeyTapVerdict::pass);
            }
        }
    }

    void escape_whileIdleOrError_passesAndMayMatchBinding()
    {
        for (const HotkeyHost::DictationStatus status :
             {HotkeyHost::DictationStatus::idle, HotkeyHost::DictationStatus::error}) {
            auto r = rig(HotkeyScheme::fn);
            r->host.status = status;
            QCOMPARE(r->tap.keyDown(keyEscape), KeyTapVerdict::pass);
            QCoreApplication::processEvents();
            QVERIFY(r->host.calls.isEmpty());
        }
        auto r = rig(HotkeyScheme::custom);
        r->host.polish = HotkeyBinding{keyEscape, 0};
        QCOMPARE(r->tap.keyDown(keyEscape), KeyTapVerdict::swallow);
        QCoreApplication::processEvents();
        QCOMPARE(r->host.calls, QStringList{kPolish});
    }

    void modifiers_cleanTaps_fireConfiguredActions()
    {
        auto r = rig(HotkeyScheme::modifiers);
        r->host.fnAction = HotkeyAction::off;
        r->tap.flags(keyControl, flagControl);
        QVERIFY(r->host.calls.isEmpty()); // never on press
        r->tap.flags(keyControl, 0);
        r->tap.flags(keyCommand, flagCommand);
        r->tap.flags(keyCommand, 0);
        r->fnDown();
        r->fnUp();
        // An `off` action is handed on unchanged.
        QCOMPARE(r->host.calls, (QStringList{kPolish, kTranslate, QStringLiteral("action:off")}));
    }

    void modifiers_typedKey_spoilsTapButRepeatAndKeyUpDoNot()
    {
        auto r = rig(HotkeyScheme::modifiers);
        r->tap.flags(keyControl, flagControl);
        r->tap.keyDown(keyA, flagControl);
        r->tap.flags(keyControl, 0);
        QVERIFY(r->host.calls.isEmpty());
        // A spoiled tap leaves no trace on the next one.
        r->tap.flags(keyControl, flagControl);
        r->tap.keyDown(keyA, flagControl, true);
        r->tap.keyUp(keyA, flagControl);
        r->tap.flags(keyControl, 0);
        QCOMPARE(r->host.calls, QStringList{kPolish});
    }

    void modifiers_capsLockSpoilsCommandShiftDoesNot()
    {
        auto r = rig(HotkeyScheme::modifiers);
        r->tap.flags(keyCommand, flagCommand);
        r->tap.flags(keyCapsLock, flagCommand | flagCapsLock);
        r->tap.flags(keyCommand, flagCapsLock);
        QVERIFY(r->host.calls.isEmpty());
        r->tap.flags(keyCommand, flagCommand);
        r->tap.flags(keyShift, flagCommand | flagShift);
        r->tap.flags(keyShift, flagCommand);
        r->tap.flags(keyCommand, 0);
        QCOMPARE(r->host.calls, QStringList{kTranslate});
        // Caps Lock does not spoil an Fn tap.
        r->fnDown();
        r->tap.flags(keyCapsLock, flagFn | flagCapsLock);
        r->fnUp(flagCapsLock);
        QCOMPARE(r->host.calls, (QStringList{kTranslate, kRecord}));
    }

    void modifiers_controlAndCommandReleasedTogether_fireBoth()
    {
        auto r = rig(HotkeyScheme::modifiers);
        r->tap.flags(keyControl, flagControl);
        r->tap.flags(keyCommand, flagControl | flagCommand);
        r->tap.flags(keyCommand, 0);
        QCOMPARE(r->host.calls, (QStringList{kPolish, kTranslate}));
    }

    void custom_binding_firesOnFirstKeyDownOnly()
    {
        auto r = rig(HotkeyScheme::custom);
        r->host.record = HotkeyBinding{40, HotkeyBinding::command | HotkeyBinding::shift};
        r->tap.flags(keyCommand, flagCommand);
        r->tap.flags(keyShift, flagCommand | flagShift);
        // Caps Lock and Fn do not matter.
        QCOMPARE(r->tap.keyDown(40, flagCommand | flagShift | flagCapsLock | flagFn), KeyTapVerdict::swallow);
        QCOMPARE(r->tap.keyDown(40, flagCommand | flagShift, true), KeyTapVerdict::pass);
        QCOMPARE(r->tap.keyUp(40, flagCommand | flagShift), KeyTapVerdict::pass);
        // An extra or a missing modifier breaks the match.
        QCOMPARE(r->tap.keyDown(40, flagCommand | flagShift | flagOption), KeyTapVerdict::pass);
        QCOMPARE(r->tap.keyDown(40, flagCommand), KeyTapVerdict::pass);
        QCOMPARE(r->host.calls, QStringList{kRecord});
    }

    void custom_sameBindingTwice_translateWinsThenPolish()
    {
        auto r = rig(HotkeyScheme::custom);
        const HotkeyBinding f5{96, 0};
        r->host.record = r->host.polish = r->host.translate = f5;
        r->tap.keyDown(96);
        r->host.translate.reset();
        r->tap.keyDown(96);
        r->host.polish.reset();
        r->tap.keyDown(96);
        r->host.record.reset();
        QCOMPARE(r->tap.keyDown(96), KeyTapVerdict::pass);
        QCOMPARE(r->host.calls, (QStringList{kTranslate, kPolish, kRecord}));
    }

    void custom_modifierOnlyBinding_firesOnReleaseUnlessKeyTyped()
    {
        auto r = rig(HotkeyScheme::custom);
        r->host.translate = HotkeyBinding{keyFn, 0};
        QCOMPARE(r->fnDown(), KeyTapVerdict::pass);
        QVERIFY(r->host.calls.isEmpty());
        QCOMPARE(r->fnUp(), KeyTapVerdict::swallow);
        QCOMPARE(r->host.calls, QStringList{kTranslate});
        r->fnDown();
        r->tap.keyDown(keyA, flagFn);
        QCOMPARE(r->fnUp(), KeyTapVerdict::pass);
        // An autorepeat counts as typing too.
        r->fnDown();
        r->tap.keyDown(keyA, flagFn, true);
        r->fnUp();
        QCOMPARE(r->host.calls, QStringList{kTranslate});
    }

    void custom_releaseShiftUnderCommand_matchesShiftKeyWithCommand()
    {
        auto r = rig(HotkeyScheme::custom);
        r->host.polish = HotkeyBinding{keyShift, HotkeyBinding::command};
        r->tap.flags(keyCommand, flagCommand);
        r->tap.flags(keyShift, flagCommand | flagShift);
        QCOMPARE(r->tap.flags(keyShift, flagCommand), KeyTapVerdict::swallow);
        QCOMPARE(r->tap.flags(keyCommand, 0), KeyTapVerdict::pass);
        QCOMPARE(r->host.calls, QStringList{kPolish});
    }

    void custom_swallowCandidates_listKeyedBindingsAndFn()
    {
        auto r = rig(HotkeyScheme::custom);
        r->host.record = HotkeyBinding{40, HotkeyBinding::control};
        r->host.polish = HotkeyBinding{keyShift, 0};
        r->host.translate = HotkeyBinding{keyFn, 0};
        r->service.refreshSwallowCandidates();
        QCOMPARE(r->tap.swallowCandidates,
                 (QList<KeyCombo>{KeyCombo{keyFn, 0, true}, KeyCombo{40, HotkeyBinding::control, false}}));
    }
};

QTEST_GUILESS_MAIN(TestGlobalHotkeyService)
#include "tst_GlobalHotkeyService.moc"
