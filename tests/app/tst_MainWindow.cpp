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
    void mainWindow_homeQuitOpenSettingsAndTheAccountPage()
    {
        AppRig rig;
        MainWindow window({*rig.state, *rig.account, *rig.historyStore, rig.clock, rig.settingsOpener, rig.pasteboard,
                           rig.defaults, &X11WindowKeyTranslator::create});
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        VoxleRootView *root = window.rootView();
        // The home page follows the preferences.
        VoxleHomeView &home = *root->homeView();
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
        const auto buttonsNamed = [&](const QString &text) {
            QList<QPushButton *> found;
            for (QPushButton *b : home.findChildren<QPushButton *>())
                if (b->text() == text && !b->isHidden())
                    found << b;
            return found;
        };
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

        // The way out where no tray is shown.
        QSignalSpy quit(root->sidebar(), &VoxleSidebar::quitRequested);
        QTest::mouseClick(root->sidebar()->quitButton(), Qt::LeftButton);
        QCOMPARE(quit.size(), 1);

        // Home's "打开设置" selects the settings page.
        rig.state->preferences().setSelection(VoxleSection::home);
        QCOMPARE(buttonsNamed(QStringLiteral("打开设置")).size(), 1);
        buttonsNamed(QStringLiteral("打开设置")).first()->click();
        QCOMPARE(rig.state->preferences().selection(), VoxleSection::settings);
        QCOMPARE(root->currentPage(), root->settingsView());
        QVERIFY(root->sidebar()->row(VoxleSection::settings)->isChecked());

        // Signed out, the account page sends nothing on "刷新" and says so.
        VoxleAccountView *page = root->accountView();
        QCOMPARE(page->rowValue(QStringLiteral("设备 ID")), rig.account->deviceIdentifier());
        QSignalSpy refreshed(page, &VoxleAccountView::refreshed);
        page->refreshButton()->click();
        QTRY_COMPARE(refreshed.size(), 1);
        QCOMPARE(page->statusText(), QStringLiteral("无法获取账户信息，请稍后重试。"));
        QVERIFY(!page->isRefreshing());

        // Signing in, from any page, shows the account.
        rig.storeSignedInUser(QStringLiteral("13900139000"));
        QCOMPARE(root->currentPage(), page);
        QVERIFY(page->loginButton()->isHidden());
        QVERIFY(!page->logoutButton()->isHidden());

        // Signing out while recording cancels the recording first.
        rig.state->preferences().setSelection(VoxleSection::history);
        rig.state->toggleRecording();
        settle();
        QCOMPARE(rig.state->status(), VoxleAppState::AppStatus::recording);
        page->logoutButton()->click();
        QCOMPARE(rig.state->status(), VoxleAppState::AppStatus::idle);
        QVERIFY(!rig.account->isLoggedIn());
        QCOMPARE(rig.state->preferences().selection(), VoxleSection::account);
        QCOMPARE(page->rowValue(QStringLiteral("登录状态")), QStringLiteral("未登录"));
    }

    // The Fn key picker is driven on screen by the user-journey test.
    void settings_hotkeysLanguagesAndPermissions()
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

    void history_listFilterRefreshCopyDeleteRetentionAndTimes()
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

        // A row names its day as the user counts days.
        const QDateTime then(QDate(2026, 12, 6), QTime(15, 30), Qt::LocalTime);
        const QList<std::tuple<QDate, QTime, const char *>> times{{{2026, 12, 6}, {0, 5}, "今天 00:05"},
                                                                  {{2026, 12, 5}, {23, 59}, "昨天 23:59"},
                                                                  {{2026, 11, 30}, {8, 0}, "2026-11-30 08:00"}};
        for (const auto &[date, time, label] : times)
            QCOMPARE(HistoryEntryRow::timeLabel(QDateTime(date, time, Qt::LocalTime).toUTC(), then),
                     QString::fromUtf8(label));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_MainWindow.moc"
