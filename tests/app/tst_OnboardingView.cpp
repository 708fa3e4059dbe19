#include "AppRig.h"
#include "app/onboarding/OnboardingView.h"
#include "app/onboarding/OnboardingWindow.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QTest>

using Pane = SettingsOpener::Pane;
Q_DECLARE_METATYPE(Pane)

class TestOnboardingView : public QObject
{
    Q_OBJECT

private slots:
    void microphone_buttonsFollowTheStatus()
    {
        AppRig rig;
        rig.mic.current = MicrophoneAccess::Status::denied;
        rig.mic.grantOnRequest = false;
        OnboardingView view(*rig.state, rig.settingsOpener, rig.clock, {});
        view.show();
        view.press(QStringLiteral("开始设置"));
        QCOMPARE(view.buttonTexts(), (QStringList{QStringLiteral("打开系统设置授权"), QStringLiteral("暂不开启")}));
        view.press(QStringLiteral("打开系统设置授权"));
        QCOMPARE(rig.settingsOpener.opened, QList<Pane>{Pane::microphone});

        // Not determined: the request; refused, the step stays and points to the settings.
        rig.mic.current = MicrophoneAccess::Status::notDetermined;
        rig.state->refreshPermissionLabels();
        QCOMPARE(view.buttonTexts(), (QStringList{QStringLiteral("授权麦克风"), QStringLiteral("暂不开启")}));
        view.press(QStringLiteral("授权麦克风"));
        settle();
        QCOMPARE(rig.mic.requests, 1);
        QCOMPARE(view.step(), 2);
        QCOMPARE(view.buttonTexts().first(), QStringLiteral("打开系统设置授权"));

        // Allowed in the settings meanwhile: a badge and "下一步".
        rig.mic.current = MicrophoneAccess::Status::authorized;
        rig.state->refreshPermissionLabels();
        QVERIFY(view.showsGrantedBadge());
        QCOMPARE(view.buttonTexts(), (QStringList{QStringLiteral("下一步"), QStringLiteral("暂不开启")}));
        view.press(QStringLiteral("下一步"));
        QCOMPARE(view.step(), 3);
        QVERIFY(!view.showsGrantedBadge());

        // Not determined and granted on request: the step moves on by itself.
        rig.mic.current = MicrophoneAccess::Status::notDetermined;
        rig.mic.grantOnRequest = true;
        OnboardingView consent(*rig.state, rig.settingsOpener, rig.clock, {});
        consent.show();
        consent.press(QStringLiteral("开始设置"));
        QVERIFY(consent.press(QStringLiteral("授权麦克风")));
        settle();
        QCOMPARE(consent.step(), 3);
    }

    void permissionStep_asksUntilGrantedThenThePollAdvances_data()
    {
        QTest::addColumn<int>("skips");
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("askedKey");
        QTest::addColumn<Pane>("pane");
        QTest::newRow("input monitoring") << 1 << QStringLiteral("授权快捷键唤醒")
                                          << QStringLiteral("hasRequestedInputMonitoring") << Pane::inputMonitoring;
        QTest::newRow("accessibility") << 2 << QStringLiteral("授权自动输入文字")
                                       << QStringLiteral("hasRequestedAccessibility") << Pane::accessibility;
    }
    void permissionStep_asksUntilGrantedThenThePollAdvances()
    {
        QFETCH(int, skips);
        QFETCH(QString, request);
        QFETCH(QString, askedKey);
        QFETCH(Pane, pane);
        AppRig rig;
        OnboardingView view(*rig.state, rig.settingsOpener, rig.clock, {});
        view.show();
        view.press(QStringLiteral("开始设置"));
        for (int i = 0; i < skips; ++i)
            view.press(QStringLiteral("暂不开启"));
        const bool input = skips == 1;
        const int &requests = input ? rig.inputMonitoringRequests : rig.accessibilityRequests;
        // Asked for already (by an earlier run) while the label still reads "未请求": the step opens the settings.
        rig.defaults.setBool(askedKey, true);
        emit rig.state->labelsChanged();
        QCOMPARE(view.buttonTexts().first(), QStringLiteral("打开系统设置授权"));
        view.press(QStringLiteral("打开系统设置授权"));
        QCOMPARE(rig.settingsOpener.opened, QList<Pane>{pane});
        QCOMPARE(requests, 0);
        rig.settingsOpener.opened.clear();
        rig.defaults.setBool(askedKey, false);
        rig.state->refreshPermissionLabels();
        // Asked and refused: the label reads "未允许", so the same button asks again.
        for (int i = 1; i <= 2; ++i) {
            QCOMPARE(view.buttonTexts().first(), request);
            view.press(request);
            QCOMPARE(requests, i);
        }
        QCOMPARE(rig.defaults.boolean(askedKey), std::optional<bool>(true));
        QVERIFY(rig.settingsOpener.opened.isEmpty());

        // Hidden, the poll stops.
        view.hide();
        (input ? rig.inputMonitoring : rig.accessibility) = true;
        rig.advance(5000);
        QCOMPARE(view.step(), skips + 2);
        // Granted in the desktop's settings meanwhile: shown again, the poll moves on within a second, unclicked.
        view.show();
        rig.advance(999);
        QCOMPARE(view.step(), skips + 2);
        rig.advance(1);
        QCOMPARE(view.step(), skips + 3);
    }

    // The keyboard step by desktop. On Wayland the keys belong to the desktop: without its shortcuts portal the
    // step hands over the commands to bind; with it, it says where the shortcuts are. Neither asks for anything,
    // and neither promises Fn.
    void inputMonitoring_waylandPointsToTheDesktopShortcutsX11IsDone()
    {
        AppRig rig;
        OnboardingView::Desktop desktop{OnboardingView::Desktop::Session::wayland, false, QStringLiteral("右 Ctrl"),
                                        QStringLiteral("/opt/voxle/bin/voxle")};
        OnboardingView view(*rig.state, rig.settingsOpener, rig.clock, {}, desktop);
        view.press(QStringLiteral("开始设置"));
        view.press(QStringLiteral("暂不开启"));
        QVERIFY(view.explanationText().contains(QStringLiteral("/opt/voxle/bin/voxle --toggle")));
        QVERIFY(view.press(QStringLiteral("复制命令")));
        QCOMPARE(QGuiApplication::clipboard()->text(), desktop.shortcutCommands());
        QVERIFY(view.press(QStringLiteral("下一步")));
        QVERIFY(view.press(QStringLiteral("暂不开启")));
        QVERIFY(!view.explanationText().contains(QStringLiteral("充当 Fn")));
        QVERIFY(view.explanationText().contains(QStringLiteral("Ctrl+V")));
        QCOMPARE(rig.inputMonitoringRequests, 0);

        desktop.shortcutsPortal = true;
        OnboardingView portal(*rig.state, rig.settingsOpener, rig.clock, {}, desktop);
        portal.press(QStringLiteral("开始设置"));
        portal.press(QStringLiteral("暂不开启"));
        QVERIFY(portal.explanationText().contains(QStringLiteral("全局快捷键")));
        QCOMPARE(portal.buttonTexts(), QStringList{QStringLiteral("下一步")});

        // On X11 any program may listen to the keyboard: the step says so and lets the user on, asking for nothing;
        // the end names the key that plays Fn. Through the window: completion reported once, the window closed.
        rig.inputMonitoring = true; // what an X11 session reports
        rig.state->refreshPermissionLabels();
        OnboardingWindow window(
            *rig.state, rig.settingsOpener, rig.clock,
            OnboardingView::Desktop{OnboardingView::Desktop::Session::x11, false, QStringLiteral("右 Ctrl")});
        int completed = 0;
        connect(&window, &OnboardingWindow::completed, this, [&] { ++completed; });
        window.show();
        OnboardingView *x11 = window.view();
        QVERIFY(x11->press(QStringLiteral("开始设置")));
        QVERIFY(x11->press(QStringLiteral("暂不开启")));
        QVERIFY(x11->explanationText().contains(QStringLiteral("无需单独授权")));
        QVERIFY(x11->showsGrantedBadge());
        // Shown long enough to be read: the poll does not move on by itself.
        rig.advance(3 * OnboardingView::pollIntervalMs);
        QCOMPARE(x11->step(), 3);
        QCOMPARE(x11->buttonTexts(), QStringList{QStringLiteral("下一步")});
        QVERIFY(x11->press(QStringLiteral("下一步")));
        QCOMPARE(x11->step(), 4);
        // The last step names the key that plays Fn here.
        QVERIFY(x11->press(QStringLiteral("暂不开启")));
        QVERIFY(x11->explanationText().contains(QStringLiteral("「右 Ctrl」充当 Fn")));
        QVERIFY(x11->press(QStringLiteral("完成")));
        QCOMPARE(completed, 1);
        QVERIFY(!window.isVisible());
        QCOMPARE(rig.inputMonitoringRequests + rig.accessibilityRequests, 0);
        QVERIFY(rig.settingsOpener.opened.isEmpty());
    }
};

QTEST_MAIN(TestOnboardingView)
#include "tst_OnboardingView.moc"
