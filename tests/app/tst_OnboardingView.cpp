#include "AppRig.h"
#include "app/OnboardingView.h"
#include "app/OnboardingWindow.h"

#include <QPointer>
#include <QPushButton>
#include <QTest>

using Pane = SettingsOpener::Pane;

class TestOnboardingView : public QObject
{
    Q_OBJECT

    static QString manualAdd()
    {
        return QStringLiteral(
            "请在弹出的系统设置中开启开关。如果应用未在列表中，请点击系统设置列表下方的「+」号，在应用程序中选择「言川 "
            "Voxle」手动添加。");
    }

private slots:
    void skipping_reachesTheEndAndCompletes()
    {
        AppRig rig;
        int completed = 0;
        OnboardingView view(*rig.state, rig.settingsOpener, rig.clock, [&] { ++completed; });
        view.show();
        QCOMPARE(view.titleText(), QStringLiteral("欢迎使用言川 Voxle"));
        QCOMPARE(view.explanationText(),
                 QStringLiteral("为了提供顺畅的语音输入和翻译体验，我们需要您进行一些基础授权。"));
        QCOMPARE(view.buttonTexts(), QStringList{QStringLiteral("开始设置")});
        QVERIFY(view.press(QStringLiteral("开始设置")));

        QCOMPARE(view.step(), 2);
        QCOMPARE(view.titleText(), QStringLiteral("麦克风权限"));
        QVERIFY(view.press(QStringLiteral("暂不开启")));
        QCOMPARE(view.step(), 3);
        QCOMPARE(view.titleText(), QStringLiteral("输入监控权限"));
        QCOMPARE(view.explanationText(),
                 QStringLiteral("为了能在任何界面下通过按键唤醒应用，我们需要全局键盘监听权限。\n\n") + manualAdd());
        QVERIFY(view.press(QStringLiteral("暂不开启")));
        QCOMPARE(view.step(), 4);
        QCOMPARE(view.titleText(), QStringLiteral("辅助功能权限"));
        QVERIFY(view.press(QStringLiteral("暂不开启")));
        QCOMPARE(view.step(), 5);
        QCOMPARE(view.titleText(), QStringLiteral("一切准备就绪！"));
        QCOMPARE(view.explanationText(), QStringLiteral("现在，按下你的热键（例如 Fn），试着说一句话吧！"));
        QVERIFY(view.press(QStringLiteral("完成")));
        QCOMPARE(completed, 1);
        QCOMPARE(rig.inputMonitoringRequests, 0);
        QCOMPARE(rig.accessibilityRequests, 0);
    }

    void microphone_buttonsByStatus()
    {
        AppRig rig;
        rig.mic.current = MicrophoneAccess::Status::denied;
        OnboardingView view(*rig.state, rig.settingsOpener, rig.clock, {});
        view.show();
        view.press(QStringLiteral("开始设置"));
        QCOMPARE(view.buttonTexts(), (QStringList{QStringLiteral("打开系统设置授权"), QStringLiteral("暂不开启")}));
        view.press(QStringLiteral("打开系统设置授权"));
        QCOMPARE(rig.settingsOpener.opened, QList<Pane>{Pane::microphone});
        QCOMPARE(view.step(), 2);

        // Not determined: the request, and on consent the next step.
        rig.mic.current = MicrophoneAccess::Status::notDetermined;
        rig.state->refreshPermissionLabels();
        QCOMPARE(view.buttonTexts(), (QStringList{QStringLiteral("授权麦克风"), QStringLiteral("暂不开启")}));
        view.press(QStringLiteral("授权麦克风"));
        rig.settle();
        QCOMPARE(rig.mic.requests, 1);
        QCOMPARE(view.step(), 3);
    }

    void microphone_refusalStaysAndGrantedShowsBadge()
    {
        AppRig rig;
        rig.mic.current = MicrophoneAccess::Status::notDetermined;
        rig.mic.grantOnRequest = false;
        OnboardingView view(*rig.state, rig.settingsOpener, rig.clock, {});
        view.show();
        view.press(QStringLiteral("开始设置"));
        view.press(QStringLiteral("授权麦克风"));
        rig.settle();
        QCOMPARE(view.step(), 2);
        QCOMPARE(view.buttonTexts().first(), QStringLiteral("打开系统设置授权"));

        rig.mic.current = MicrophoneAccess::Status::authorized;
        rig.state->refreshPermissionLabels();
        QVERIFY(view.showsGrantedBadge());
        QCOMPARE(view.buttonTexts(), (QStringList{QStringLiteral("下一步"), QStringLiteral("暂不开启")}));
        view.press(QStringLiteral("下一步"));
        QCOMPARE(view.step(), 3);
        QVERIFY(!view.showsGrantedBadge());
    }

    void inputMonitoring_requestThenSettingsThenPollAdvances()
    {
        AppRig rig;
        OnboardingView view(*rig.state, rig.settingsOpener, rig.clock, {});
        view.show();
        view.press(QStringLiteral("开始设置"));
        view.press(QStringLiteral("暂不开启"));
        QCOMPARE(view.step(), 3);
        QCOMPARE(view.buttonTexts().first(), QStringLiteral("授权快捷键唤醒"));
        view.press(QStringLiteral("授权快捷键唤醒"));
        QCOMPARE(rig.inputMonitoringRequests, 1);
        QCOMPARE(rig.defaults.boolean(QStringLiteral("hasRequestedInputMonitoring")), std::optional<bool>(true));
        // Asked and refused: the label reads "未允许", so the same button asks again.
        QCOMPARE(rig.state->inputMonitoringPermissionLabel(), QStringLiteral("未允许"));
        QCOMPARE(view.buttonTexts().first(), QStringLiteral("授权快捷键唤醒"));
        view.press(QStringLiteral("授权快捷键唤醒"));
        QCOMPARE(rig.inputMonitoringRequests, 2);
        QVERIFY(rig.settingsOpener.opened.isEmpty());

        // Granted in the desktop's settings: the poll moves on within a second, without a click.
        rig.inputMonitoring = true;
        rig.advance(999);
        QCOMPARE(view.step(), 3);
        rig.advance(1);
        QCOMPARE(view.step(), 4);
    }

    void inputMonitoring_askedWithStaleLabelOpensSettings()
    {
        AppRig rig;
        OnboardingView view(*rig.state, rig.settingsOpener, rig.clock, {});
        view.press(QStringLiteral("开始设置"));
        view.press(QStringLiteral("暂不开启"));
        // Asked for already, while the label still reads "未请求" (not refreshed since).
        rig.defaults.setBool(QStringLiteral("hasRequestedInputMonitoring"), true);
        QCOMPARE(rig.state->inputMonitoringPermissionLabel(), QStringLiteral("未请求"));
        emit rig.state->labelsChanged();
        QCOMPARE(view.buttonTexts().first(), QStringLiteral("打开系统设置授权"));
        view.press(QStringLiteral("打开系统设置授权"));
        QCOMPARE(rig.settingsOpener.opened, QList<Pane>{Pane::inputMonitoring});
        QCOMPARE(rig.inputMonitoringRequests, 0);
    }

    void accessibility_requestAndPoll()
    {
        AppRig rig;
        OnboardingView view(*rig.state, rig.settingsOpener, rig.clock, {});
        view.show();
        for (const QString &text : {QStringLiteral("开始设置"), QStringLiteral("暂不开启"), QStringLiteral("暂不开启")})
            view.press(text);
        QCOMPARE(view.step(), 4);
        QCOMPARE(view.explanationText(),
                 QStringLiteral("为了能将转换好的文字自动输入到你当前的文档或聊天框中，我们需要辅助功能权限。\n\n") +
                     manualAdd());
        view.press(QStringLiteral("授权自动输入文字"));
        QCOMPARE(rig.accessibilityRequests, 1);
        QCOMPARE(rig.defaults.boolean(QStringLiteral("hasRequestedAccessibility")), std::optional<bool>(true));

        rig.accessibility = true;
        rig.advance(1000);
        QCOMPARE(view.step(), 5);
        QCOMPARE(view.buttonTexts(), QStringList{QStringLiteral("完成")});
    }

    void poll_onlyWhileShown()
    {
        AppRig rig;
        OnboardingView view(*rig.state, rig.settingsOpener, rig.clock, {});
        QVERIFY(!view.isPolling());
        view.show();
        QVERIFY(view.isPolling());
        view.press(QStringLiteral("开始设置"));
        view.press(QStringLiteral("暂不开启"));
        view.hide();
        QVERIFY(!view.isPolling());
        rig.inputMonitoring = true;
        rig.advance(5000);
        QCOMPARE(view.step(), 3);
    }

    void poll_keepsButtonsWhileNothingChanges()
    {
        AppRig rig;
        OnboardingView view(*rig.state, rig.settingsOpener, rig.clock, {});
        view.show();
        view.press(QStringLiteral("开始设置"));
        view.press(QStringLiteral("暂不开启"));
        rig.settle();
        auto requestButton = [&]() -> QPushButton * {
            for (QPushButton *b : view.findChildren<QPushButton *>())
                if (!b->isHidden() && b->text() == QStringLiteral("授权快捷键唤醒"))
                    return b;
            return nullptr;
        };
        const QPointer<QPushButton> before = requestButton();
        QVERIFY(before);
        rig.advance(3000);
        QVERIFY(before);
        QCOMPARE(requestButton(), before.data());
    }

    void window_finishClosesAndReports()
    {
        AppRig rig;
        OnboardingWindow window(*rig.state, rig.settingsOpener, rig.clock);
        QCOMPARE(window.windowTitle(), QStringLiteral("欢迎使用言川 Voxle"));
        QCOMPARE(window.size(), QSize(600, 450));
        int completed = 0;
        connect(&window, &OnboardingWindow::completed, this, [&] { ++completed; });
        window.show();
        OnboardingView *view = window.view();
        for (const QString &text : {QStringLiteral("开始设置"), QStringLiteral("暂不开启"), QStringLiteral("暂不开启"),
                                    QStringLiteral("暂不开启"), QStringLiteral("完成")})
            QVERIFY(view->press(text));
        QCOMPARE(completed, 1);
        QVERIFY(!window.isVisible());
    }
};

QTEST_MAIN(TestOnboardingView)
#include "tst_OnboardingView.moc"
