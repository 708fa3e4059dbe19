#include "ControllerRig.h"
#include "core/VoxleAppStateHotkeyHost.h"

#include <QSignalSpy>
#include <QTest>

namespace {
using P = VoxlePreferences;
}

class TestVoxlePreferences : public QObject
{
    Q_OBJECT
private slots:
    // The history applies the retention read at start-up and every retention chosen later, after the change;
    // the hotkey interpreter reads the modifier actions through the application state (the portal test drives
    // the rest of it).
    void appState_retentionReachesTheHistoryAndTheHotkeyHostReadsTheActions()
    {
        ControllerRig rig;
        QCOMPARE(rig.history.retentions, QStringList{QStringLiteral("forever")});
        rig.state->preferences().setHistoryRetention(VoxleHistoryRetention::week1);
        QCOMPARE(rig.history.retentions.size(), 1); // queued: not inside the setter
        settle();
        QCOMPARE(rig.history.retentions, (QStringList{QStringLiteral("forever"), QStringLiteral("week1")}));

        QSignalSpy actions(&rig.state->preferences(), &P::modifierActionsChanged); // the settings page follows
        rig.state->preferences().setModifierFnAction(HotkeyAction::record);
        rig.state->preferences().setModifierControlAction(HotkeyAction::translate);
        rig.state->preferences().setModifierCommandAction(HotkeyAction::polish);
        QCOMPARE(actions.size(), 3);
        rig.state->preferences().setHotkeyScheme(HotkeyScheme::modifiers);
        const VoxleAppStateHotkeyHost host(*rig.state);
        QCOMPARE(host.hotkeyScheme(), HotkeyScheme::modifiers);
        QCOMPARE(host.modifierFnAction(), HotkeyAction::record);
        QCOMPARE(host.modifierControlAction(), HotkeyAction::translate);
        QCOMPARE(host.modifierCommandAction(), HotkeyAction::polish);
        rig.toggle(); // the interpreter sees the live status: Escape cancels only while busy
        QCOMPARE(host.hotkeyStatus(), AppStatus::recording);
        // A permission asked for and not granted yet reads as refused, not as never asked.
        QCOMPARE(rig.state->accessibilityPermissionLabel(), QStringLiteral("未请求"));
        rig.state->requestAccessibility();
        rig.state->requestInputMonitoring();
        QCOMPARE(rig.permissionRequests, 2);
        QCOMPARE(rig.state->accessibilityPermissionLabel(), QStringLiteral("未允许"));
        QCOMPARE(rig.state->inputMonitoringPermissionLabel(), QStringLiteral("未允许"));
    }

    void load_readsStoredValuesAndRejectsLabelsWhereIdsAreStored()
    {
        FakeUserDefaults defaults;
        defaults.setString(P::kTriggerMode, QStringLiteral("ptt"));
        defaults.setString(P::kHotkeyScheme, QStringLiteral("Fn"));
        defaults.setString(P::kTranslationTarget, QStringLiteral("ja"));
        defaults.setString(P::kModifierFnAction, QStringLiteral("translate"));
        defaults.setString(P::kModifierControlAction, QStringLiteral("record"));
        defaults.setString(P::kModifierCommandAction, QStringLiteral("翻译"));
        defaults.setString(P::kPolishEnabled, QStringLiteral("true")); // not a Boolean
        defaults.setString(P::kUseProxy, QStringLiteral("false"));     // not a Boolean
        defaults.setString(P::kHistoryRetention, QStringLiteral("week"));
        P prefs(defaults);
        prefs.load();
        QCOMPARE(prefs.hotkeyScheme(), HotkeyScheme::fn);
        QCOMPARE(prefs.triggerMode(), RecordingTriggerMode::toggle);
        QCOMPARE(defaults.string(P::kTriggerMode), std::optional<QString>(QStringLiteral("toggle")));
        QCOMPARE(prefs.translationTargetLanguage(), TranslationTargetLanguage::en);
        QCOMPARE(defaults.string(P::kTranslationTarget), std::optional<QString>(QStringLiteral("ja")));
        QCOMPARE(prefs.modifierFnAction(), HotkeyAction::translate);
        QCOMPARE(prefs.modifierControlAction(), HotkeyAction::record);
        QCOMPARE(prefs.modifierCommandAction(), HotkeyAction::translate);
        QCOMPARE(defaults.string(P::kModifierCommandAction), std::optional<QString>(QStringLiteral("翻译")));
        QCOMPARE(prefs.polishEnabled(), false);
        QCOMPARE(defaults.boolean(P::kPolishEnabled), std::optional<bool>(false));
        QVERIFY(prefs.useProxy());
        QCOMPARE(prefs.historyRetention(), VoxleHistoryRetention::keepForever);

        FakeUserDefaults second;
        second.setString(P::kHotkeyScheme, QStringLiteral("custom"));
        second.setString(P::kTranslationTarget, QStringLiteral("日语"));
        second.setBool(P::kUseProxy, false);
        second.setBool(P::kPolishEnabled, true);
        second.setBool(P::kLiveTextPreedit, true);
        second.setString(P::kModifierCommandAction, QStringLiteral("record"));
        P other(second);
        QSignalSpy preedit(&other, &P::liveTextPreeditChanged);
        QSignalSpy polish(&other, &P::polishEnabledChanged);
        other.load();
        QCOMPARE(preedit.size(), 1);
        QCOMPARE(polish.size(), 1);
        QCOMPARE(other.hotkeyScheme(), HotkeyScheme::custom);
        QCOMPARE(other.translationTargetLanguage(), TranslationTargetLanguage::ja);
        QCOMPARE(other.modifierCommandAction(), HotkeyAction::record);
        QVERIFY(!other.useProxy());
        QCOMPARE(other.defaultModeLabel(), QStringLiteral("润色听写"));
        QVERIFY(other.liveTextPreedit());
        // The settings page and the live-text route follow the switch.
        other.setLiveTextPreedit(false);
        QCOMPARE(preedit.size(), 2);
    }

    // A first launch stores only the keys it rewrites; every scheme assignment resets the trigger mode and the
    // labels follow the scheme; bindings and choices come back after a reload, an absent binding removes its key.
    void storage_firstLaunchSchemeAssignmentsAndBindingsRoundTrip()
    {
        FakeUserDefaults defaults;
        P prefs(defaults);
        prefs.load();
        QCOMPARE(defaults.string(P::kHotkeyScheme), std::optional<QString>(QStringLiteral("fn")));
        QCOMPARE(defaults.string(P::kTriggerMode), std::optional<QString>(QStringLiteral("toggle")));
        QCOMPARE(defaults.boolean(P::kPolishEnabled), std::optional<bool>(false));
        QCOMPARE(defaults.string(P::kHistoryRetention), std::optional<QString>(QStringLiteral("forever")));
        for (const QString &key :
             {P::kUseProxy, P::kModifierFnAction, P::kModifierControlAction, P::kModifierCommandAction,
              P::kRecordBinding, P::kPolishBinding, P::kTranslateBinding, P::kTranslationTarget})
            QVERIFY2(!defaults.contains(key), qPrintable(key));
        QCOMPARE(prefs.modifierControlAction(), HotkeyAction::polish);

        // The home page and the key grabs follow these.
        QSignalSpy schemes(&prefs, &P::hotkeySchemeChanged), bindings(&prefs, &P::bindingsChanged);
        prefs.setTriggerMode(RecordingTriggerMode::ptt);
        prefs.setHotkeyScheme(HotkeyScheme::fn);
        QCOMPARE(prefs.triggerMode(), RecordingTriggerMode::toggle);
        QCOMPARE(prefs.translateHotkeyLabel(), QStringLiteral("Fn + ⇧（左）"));
        prefs.setHotkeyScheme(HotkeyScheme::custom);
        QCOMPARE(prefs.polishHotkeyLabel(), QStringLiteral("未设置"));
        prefs.setHotkeyScheme(HotkeyScheme::modifiers);
        QCOMPARE(prefs.polishHotkeyLabel(), QStringLiteral("Fn/⌃/⌘"));
        QCOMPARE(schemes.size(), 3);

        prefs.setRecordHotkey(HotkeyBinding{49, HotkeyBinding::command});
        prefs.setTranslateHotkey(HotkeyBinding{0, HotkeyBinding::control | HotkeyBinding::shift});
        prefs.setPolishHotkey(HotkeyBinding{1, 0});
        QVERIFY(defaults.contains(P::kPolishBinding));
        prefs.setPolishHotkey(std::nullopt);
        prefs.setTranslationTargetLanguage(TranslationTargetLanguage::ja);
        prefs.setModifierControlAction(HotkeyAction::translate);
        prefs.setUseProxy(false);
        QVERIFY(!defaults.contains(P::kPolishBinding));
        prefs.setPolishHotkey(HotkeyBinding{1, 0});
        QCOMPARE(bindings.size(), 5);
        QCOMPARE(defaults.data(P::kRecordBinding),
                 std::optional<QByteArray>("{\"keyCode\":49,\"modifiersRawValue\":1}"));
        P reloaded(defaults);
        reloaded.load();
        QCOMPARE(reloaded.recordHotkey(), std::optional<HotkeyBinding>(HotkeyBinding{49, 1}));
        QCOMPARE(reloaded.translateHotkey(), std::optional<HotkeyBinding>(HotkeyBinding{0, 12}));
        QCOMPARE(reloaded.polishHotkey(), std::optional<HotkeyBinding>(HotkeyBinding{1, 0}));
        QCOMPARE(reloaded.translationTargetLanguage(), TranslationTargetLanguage::ja);
        QCOMPARE(reloaded.modifierControlAction(), HotkeyAction::translate);
        QVERIFY(!reloaded.useProxy());
        // undecodable data reads as no binding and is left as it was
        defaults.setData(P::kPolishBinding, "{\"keyCode\":\"x\"}");
        P again(defaults);
        again.load();
        QCOMPARE(again.polishHotkey(), std::nullopt);
        QCOMPARE(defaults.data(P::kPolishBinding), std::optional<QByteArray>("{\"keyCode\":\"x\"}"));

        QCOMPARE(languageHints(SpeechLanguage::autoDetect), std::nullopt);
        QCOMPARE(displayText(HotkeyBinding{200, 0}, false), QStringLiteral("KeyCode(200)"));
        QCOMPARE(displayText(HotkeyBinding{63, HotkeyBinding::command | HotkeyBinding::option}, true),
                 QStringLiteral("⌥ ⇧ ⌘ Fn"));
        QCOMPARE(HotkeyBinding::fromStorageJson("{\"keyCode\":1.5,\"modifiersRawValue\":0}"), std::nullopt);
        // Beyond every integer type: refused before any conversion (the conversion itself would be undefined).
        QCOMPARE(HotkeyBinding::fromStorageJson("{\"keyCode\":1e300,\"modifiersRawValue\":0}"), std::nullopt);
        QCOMPARE(HotkeyBinding::fromStorageJson("{\"keyCode\":49,\"modifiersRawValue\":-1e19}"), std::nullopt);
    }

    void apiKey_savedTrimmedBlankDeletesFailuresShowOrCountAsAbsent()
    {
        ControllerRig rig(false, false);
        QVERIFY(!rig.dictation->apiKeyConfigured());
        // Without a key a recording still runs, with nothing to recognise it.
        rig.toggle();
        QCOMPARE(rig.dictation->status(), AppStatus::recording);
        QVERIFY(rig.sessions.sessions.empty());
        QCOMPARE(rig.dictation->serverLabel(), QStringLiteral("未配置（缺少 API Key）"));
        rig.dictation->cancelRecording();
        ControllerRig proxy(/*useProxy=*/true, /*withKey=*/false); // the proxy route collects all the same
        proxy.toggle();
        proxy.audio.deliverPcm(QByteArray(320, '\2'));
        proxy.dictation->toggleRecordingFromHotkey(DictationMode::polish);
        QCOMPARE(proxy.cloud.uploads.value(0).size(), 320);
        QSignalSpy configured(rig.state.get(), &VoxleAppState::apiKeyConfiguredChanged); // what the views follow
        rig.dictation->saveDashScopeApiKey(QStringLiteral("  sk-abc \n"));
        const std::pair<QString, QString> item{Voxle::applicationId(), QStringLiteral("dashscope_api_key")};
        QCOMPARE(rig.secrets.items[item], QStringLiteral("sk-abc"));
        QVERIFY(rig.dictation->apiKeyConfigured());
        QCOMPARE(rig.dictation->serverLabel(), QStringLiteral("已配置"));
        rig.dictation->saveDashScopeApiKey(QStringLiteral("   "));
        QVERIFY(!rig.secrets.items.count(item));
        QVERIFY(!rig.dictation->apiKeyConfigured());
        QCOMPARE(rig.dictation->serverLabel(), QStringLiteral("未配置"));
        QCOMPARE(configured.size(), 2);
        rig.secrets.failSaveWith = -25308;
        rig.dictation->saveDashScopeApiKey(QStringLiteral("sk-new"));
        QCOMPARE(rig.dictation->overlay(), OverlayState::error(QStringLiteral("保存失败")));
        QVERIFY(!rig.dictation->apiKeyConfigured());
        // An unreadable store at start-up counts as no key.
        QVERIFY(!ControllerRig(false, true, /*keychainReadable=*/false).dictation->apiKeyConfigured());
    }
};

QTEST_GUILESS_MAIN(TestVoxlePreferences)
#include "tst_VoxlePreferences.moc"
