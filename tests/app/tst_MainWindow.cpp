#include "AppRig.h"
#include "app/main/MainWindow.h"
#include "app/main/VoxleRootView.h"
#include "app/main/VoxleSidebar.h"
#include "app/pages/HistoryEntryRow.h"
#include "app/pages/VoxleAccountView.h"
#include "app/pages/VoxleHistoryView.h"
#include "app/pages/VoxleHomeView.h"
#include "app/pages/VoxleSettingsView.h"
#include "history/VoxleHistoryRetention.h"

#include <QComboBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using Capture = VoxleSettingsView::HotkeyCaptureType;
using Pane = SettingsOpener::Pane;
using Kind = VoxleHistoryEntry::Kind;
using Filter = VoxleHistoryView::Filter;

class TestMainWindow : public QObject
{
    Q_OBJECT

    static QStringList outputs(const VoxleHistoryView &view)
    {
        QStringList texts;
        for (HistoryEntryRow *row : view.rows())
            texts << row->entry().outputText;
        return texts;
    }

private slots:
    // The pages, the sidebar and the sign-in windows are driven on screen by the user-journey test.
    void mainWindow_quitOpenSettingsAndSignIn()
    {
        AppRig rig;
        MainWindow window(rig.services());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        VoxleRootView *root = window.rootView();
        // The way out where no tray is shown.
        QSignalSpy quit(root->sidebar(), &VoxleSidebar::quitRequested);
        QTest::mouseClick(root->sidebar()->quitButton(), Qt::LeftButton);
        QCOMPARE(quit.size(), 1);

        // Home's "打开设置" selects the settings page.
        rig.state->preferences().setSelection(VoxleSection::home);
        const QList<QPushButton *> openSettings = AppRig::visibleButtons(root->homeView(), QStringLiteral("打开设置"));
        QCOMPARE(openSettings.size(), 1);
        openSettings.first()->click();
        QCOMPARE(rig.state->preferences().selection(), VoxleSection::settings);
        QCOMPARE(root->currentPage(), root->settingsView());
        QVERIFY(root->sidebar()->row(VoxleSection::settings)->isChecked());

        // Signing in, from any page, shows the account.
        rig.storeSignedInUser(QStringLiteral("13900139000"));
        QCOMPARE(root->currentPage(), root->accountView());
    }

    void home_followsThePreferencesRecordsAndAsksForPermissions()
    {
        AppRig rig;
        VoxleHomeView home(*rig.state, rig.settingsOpener);
        QCOMPARE(home.rowValue(QStringLiteral("默认模式")), QStringLiteral("仅听写"));
        rig.state->preferences().setPolishEnabled(true);
        QCOMPARE(home.rowValue(QStringLiteral("默认模式")), QStringLiteral("润色听写"));
        rig.state->preferences().setHotkeyScheme(HotkeyScheme::custom);
        rig.state->preferences().setRecordHotkey(HotkeyBinding{49, HotkeyBinding::command});
        QCOMPARE(home.defaultHotkeyLine(), QStringLiteral("默认热键：⌘ Space 开始/结束；未设置 翻译。"));

        // The record button toggles a recording that is never inserted at the cursor; the tray and the hotkeys
        // follow the status through its change signal.
        QSignalSpy statusChanges(rig.state.get(), &VoxleAppState::statusChanged);
        home.recordButton()->click();
        settle();
        QCOMPARE(rig.state->status(), VoxleAppState::AppStatus::recording);
        QCOMPARE(statusChanges.size(), 1);
        QCOMPARE(home.rowValue(QStringLiteral("应用状态")), QStringLiteral("录音中"));
        home.recordButton()->click();
        settle();
        QCOMPARE(rig.state->status(), VoxleAppState::AppStatus::processing);
        QVERIFY(!rig.state->pendingCommitToCursor());
        rig.state->cancelRecording();

        // Permission buttons only for what is not allowed.
        auto buttonsNamed = [&](const QString &text) { return AppRig::visibleButtons(&home, text); };
        QCOMPARE(buttonsNamed(QStringLiteral("请求权限")).size(), 2);
        buttonsNamed(QStringLiteral("请求权限"))[0]->click();
        QCOMPARE(rig.inputMonitoringRequests, 1);
        QCOMPARE(home.rowValue(QStringLiteral("输入监控")), QStringLiteral("未允许"));
        buttonsNamed(QStringLiteral("去设置"))[1]->click();
        QCOMPARE(rig.settingsOpener.opened, QList<Pane>{Pane::accessibility});
        rig.inputMonitoring = true;
        rig.accessibility = true;
        rig.state->refreshPermissionLabels();
        QCOMPARE(home.rowValue(QStringLiteral("输入监控")), QStringLiteral("已允许"));
        QVERIFY(buttonsNamed(QStringLiteral("请求权限")).isEmpty());
    }

    void settings_schemeChangesControlsAndCustomBindingsCaptureAndClear()
    {
        AppRig rig;
        VoxleSettingsView settings(*rig.state, rig.defaults, rig.settingsOpener, &X11WindowKeyTranslator::create);
        QVERIFY(!settings.showsModifierActions());
        QVERIFY(!settings.showsCustomBindings());

        settings.schemePicker()->setCurrentIndex(1);
        QCOMPARE(rig.state->preferences().hotkeyScheme(), HotkeyScheme::modifiers);
        QVERIFY(settings.showsModifierActions());
        QVERIFY(!settings.showsCustomBindings());
        QCOMPARE(settings.modifierPicker(1)->currentText(), QStringLiteral("润色"));
        settings.modifierPicker(1)->setCurrentIndex(0);
        QCOMPARE(rig.state->preferences().modifierControlAction(), HotkeyAction::off);

        // A change made elsewhere shows here too.
        rig.state->preferences().setHotkeyScheme(HotkeyScheme::custom);
        QCOMPARE(settings.schemePicker()->currentText(), QStringLiteral("自定义热键"));
        QVERIFY(!settings.showsModifierActions());
        QVERIFY(settings.showsCustomBindings());
        QCOMPARE(settings.bindingText(Capture::record), QStringLiteral("未设置"));

        // Custom bindings: captured by the sheet, kept when it is cancelled, cleared by their button.
        std::optional<HotkeyBinding> answer = HotkeyBinding{0, HotkeyBinding::control | HotkeyBinding::shift};
        std::optional<Capture> openType;
        settings.setCaptureBinding([&](QWidget *, const QString &, FnRoleKey) {
            openType = settings.hotkeyCaptureType();
            return answer;
        });

        settings.setButton(Capture::translate)->click();
        QCOMPARE(openType, std::optional<Capture>(Capture::translate));
        QCOMPARE(settings.hotkeyCaptureType(), std::nullopt);
        QCOMPARE(rig.state->preferences().translateHotkey(), answer);
        QCOMPARE(settings.bindingText(Capture::translate), QStringLiteral("⌃ ⇧ A"));

        // Cancelling the sheet keeps what was there.
        answer.reset();
        settings.setButton(Capture::translate)->click();
        QCOMPARE(settings.bindingText(Capture::translate), QStringLiteral("⌃ ⇧ A"));

        answer = HotkeyBinding{63, 0};
        settings.setButton(Capture::record)->click();
        QCOMPARE(openType, std::optional<Capture>(Capture::record));
        settings.setButton(Capture::polish)->click();
        QCOMPARE(settings.bindingText(Capture::record), QStringLiteral("Fn"));

        settings.clearButton(Capture::translate)->click();
        QCOMPARE(settings.bindingText(Capture::translate), QStringLiteral("未设置"));
        QCOMPARE(rig.state->preferences().translateHotkey(), std::nullopt);
        QCOMPARE(settings.bindingText(Capture::polish), QStringLiteral("Fn"));
        // A view opened later starts from what is stored.
        VoxleSettingsView later(*rig.state, rig.defaults, rig.settingsOpener, &X11WindowKeyTranslator::create);
        QVERIFY(later.showsCustomBindings());
        QCOMPARE(later.bindingText(Capture::record), QStringLiteral("Fn"));
    }

    // The Fn key picker is driven on screen by the user-journey test.
    void settings_languagesAndPermissions()
    {
        AppRig rig;
        VoxleSettingsView settings(*rig.state, rig.defaults, rig.settingsOpener, &X11WindowKeyTranslator::create);
        settings.translationTargetPicker()->setCurrentIndex(2);
        QCOMPARE(rig.state->preferences().translationTargetLanguage(), TranslationTargetLanguage::ja);
        settings.speechLanguagePicker()->setCurrentIndex(0);
        QCOMPARE(rig.state->preferences().speechLanguage(), SpeechLanguage::autoDetect);

        // Microphone allowed: its button opens the settings; the other two can still be requested.
        settings.permissionButton(0)->click();
        QCOMPARE(rig.settingsOpener.opened, QList<Pane>{Pane::microphone});
        // "未请求" is not "未允许": the input-monitoring button opens its pane.
        settings.permissionButton(1)->click();
        QCOMPARE(rig.settingsOpener.opened.last(), Pane::inputMonitoring);
        rig.defaults.setBool(QStringLiteral("hasRequestedAccessibility"), true);
        rig.state->refreshPermissionLabels();
        QCOMPARE(settings.permissionButton(2)->text(), QStringLiteral("请求权限"));
        settings.permissionButton(2)->click();
        QCOMPARE(rig.accessibilityRequests, 1);

        rig.mic.current = MicrophoneAccess::Status::notDetermined;
        rig.state->refreshPermissionLabels();
        QCOMPARE(settings.permissionButton(0)->text(), QStringLiteral("请求权限"));
        settings.permissionButton(0)->click();
        settle();
        QCOMPARE(rig.mic.requests, 1);
        QCOMPARE(settings.permissionButton(0)->text(), QStringLiteral("打开麦克风权限设置"));
    }

    // Signing in and the signed-in page are driven on screen by the user-journey test.
    void account_signedOutRefreshFailsAndSignedInLogsOut()
    {
        AppRig rig;
        VoxleAccountView page(*rig.state, *rig.account);
        QCOMPARE(page.rowValue(QStringLiteral("设备 ID")), rig.account->deviceIdentifier());
        // Without a token nothing is sent and the page says so.
        QSignalSpy refreshed(&page, &VoxleAccountView::refreshed);
        page.refreshButton()->click();
        QVERIFY(refreshed.size() == 1 || refreshed.wait(2000));
        QCOMPARE(page.statusText(), QStringLiteral("无法获取账户信息，请稍后重试。"));
        QVERIFY(!page.isRefreshing());

        rig.storeSignedInUser(QStringLiteral("13800138000"));
        QVERIFY(page.loginButton()->isHidden());
        QVERIFY(!page.logoutButton()->isHidden());

        // Signing out while recording cancels the recording first.
        rig.state->preferences().setSelection(VoxleSection::history);
        rig.state->toggleRecording();
        settle();
        QCOMPARE(rig.state->status(), VoxleAppState::AppStatus::recording);
        page.logoutButton()->click();
        QCOMPARE(rig.state->status(), VoxleAppState::AppStatus::idle);
        QVERIFY(!rig.account->isLoggedIn());
        QCOMPARE(rig.state->preferences().selection(), VoxleSection::account);
        QCOMPARE(page.rowValue(QStringLiteral("登录状态")), QStringLiteral("未登录"));
    }

    void history_listFilterRefreshCopyDeleteAndRetention()
    {
        AppRig rig;
        const QDateTime now = rig.clock.now();
        rig.historyStore->insert(Kind::record, QStringLiteral("raw one"), QStringLiteral("第一条"), now.addDays(-3));
        rig.historyStore->insert(Kind::polish, QStringLiteral("raw two"), QStringLiteral("第二条"), now.addDays(-1));
        rig.historyStore->insert(Kind::translate, QStringLiteral("raw three"), QStringLiteral("third"), now);

        const QStringList all{QStringLiteral("third"), QStringLiteral("第二条"), QStringLiteral("第一条")};
        VoxleHistoryView view(*rig.state, *rig.historyStore, rig.pasteboard, rig.clock);
        QSignalSpy loaded(&view, &VoxleHistoryView::loaded);
        view.show();
        QCOMPARE(view.placeholderText(), QStringLiteral("加载中…"));
        QVERIFY(loaded.wait(5000));
        QCOMPARE(outputs(view), all);
        QCOMPARE(view.placeholderText(), QString());

        // Two filter changes before either load has answered: only the last one is listed.
        view.setFilter(Filter::polish);
        view.setFilter(Filter::translate);
        QVERIFY(view.isLoading());
        QVERIFY(loaded.wait(5000));
        QTest::qWait(50);
        QCOMPARE(loaded.size(), 2);
        QCOMPARE(outputs(view), QStringList{QStringLiteral("third")});

        const QList<std::pair<Filter, QStringList>> filters{{Filter::polish, {QStringLiteral("第二条")}},
                                                            {Filter::translate, {QStringLiteral("third")}},
                                                            {Filter::all, all}};
        for (const auto &[filter, listed] : filters) {
            view.filterButton(filter)->click();
            QCOMPARE(view.filter(), filter);
            QVERIFY(loaded.wait(5000));
            QCOMPARE(outputs(view), listed);
        }

        // Rows added elsewhere appear on "刷新".
        rig.historyStore->insert(Kind::record, QString(), QStringLiteral("新的一条"), now);
        view.refreshButton()->click();
        QVERIFY(loaded.wait(5000));
        QCOMPARE(outputs(view).first(), QStringLiteral("新的一条"));

        // Copy and delete act on their own row, not the first.
        view.rows().at(2)->copyButton()->click();
        QCOMPARE(rig.pasteboard.string(), std::optional<QString>(QStringLiteral("第二条")));
        view.rows().at(2)->deleteButton()->click();
        QVERIFY(loaded.wait(5000));
        QCOMPARE(outputs(view),
                 (QStringList{QStringLiteral("新的一条"), QStringLiteral("third"), QStringLiteral("第一条")}));

        // The retention picker, chosen by what the user reads in it: older rows go, and the list follows.
        QCOMPARE(view.retentionPicker()->currentText(), QStringLiteral("永远"));
        view.retentionPicker()->setCurrentIndex(view.retentionPicker()->findText(QStringLiteral("24小时")));
        QCOMPARE(rig.state->preferences().historyRetention(), VoxleHistoryRetention::hours24);
        QVERIFY(loaded.wait(5000));
        QCOMPARE(outputs(view), (QStringList{QStringLiteral("新的一条"), QStringLiteral("third")}));
        rig.state->preferences().setHistoryRetention(VoxleHistoryRetention::week1);
        QCOMPARE(view.retentionPicker()->currentText(), QStringLiteral("1周"));
        view.filterButton(Filter::polish)->click(); // its only row was deleted
        QVERIFY(loaded.wait(5000));
        QCOMPARE(view.placeholderText(), QStringLiteral("暂无历史记录。"));
    }

    void history_rowTimeLabels()
    {
        const QDateTime now(QDate(2026, 12, 6), QTime(15, 30), Qt::LocalTime);
        const QList<std::tuple<QDate, QTime, const char *>> times{{{2026, 12, 6}, {0, 5}, "今天 00:05"},
                                                                  {{2026, 12, 5}, {23, 59}, "昨天 23:59"},
                                                                  {{2026, 11, 30}, {8, 0}, "2026-11-30 08:00"}};
        for (const auto &[date, time, label] : times)
            QCOMPARE(HistoryEntryRow::timeLabel(QDateTime(date, time, Qt::LocalTime).toUTC(), now),
                     QString::fromUtf8(label));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_MainWindow.moc"
