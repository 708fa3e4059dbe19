#include "AppRig.h"
#include "app/overlay/FakeWaveView.h"
#include "app/overlay/OverlayController.h"
#include "app/overlay/PillOverlayView.h"
#include "support/OcrText.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using Content = PillOverlayView::Content;

class TestOverlayController : public QObject
{
    Q_OBJECT

private slots:
    void dictation_onePanelFollowsTheState()
    {
        AppRig rig;
        OverlayController controller(*rig.state);
        // Where the desktop owns the hotkeys, Fn does nothing: the pill names the shortcut instead.
        controller.setDesktopShortcuts(true);
        controller.start();
        // Hidden values create no panel.
        emit rig.state->overlayChanged();
        rig.state->cancelRecording();
        settle();
        QCOMPARE(controller.panel(), nullptr);

        rig.state->toggleRecordingFromHotkey(DictationMode::polish);
        settle();
        QWidget *panel = controller.panel();
        QVERIFY(panel->isVisible());
        PillOverlayView *pill = controller.pillView();
        QCOMPARE(pill->titleText(), QStringLiteral("正在听…"));
        QCOMPARE(pill->hintText(), QStringLiteral("再按快捷键结束"));
        QCOMPARE(pill->modeText(), QStringLiteral("言川"));
        QVERIFY(pill->showsBars());
        QVERIFY(!pill->showsShimmer());
        // Where Fn is the app's own key, the pill names it.
        controller.setDesktopShortcuts(false);
        QCOMPARE(pill->hintText(), QStringLiteral("按 Fn 结束"));
        // What is painted reads the same, as OCR sees it.
        QTemporaryDir dir;
        const QString png = dir.filePath(QStringLiteral("pill.png"));
        QVERIFY(pill->grab().save(png));
        const QStringList painted{QStringLiteral("言川"), QStringLiteral("正在听"), QStringLiteral("按 Fn 结束")};
        const QString read = OcrText::read(png, 0, painted);
        for (const QString &text : painted)
            QVERIFY2(OcrText::readsAs(read, text), qPrintable(text + QStringLiteral(" not read in:\n") + read));

        rig.sessions.last()->onPartialUpdated(QStringLiteral("今天天气不错"));
        settle();
        QCOMPARE(controller.panel(), panel);
        QCOMPARE(pill->textLine(), QStringLiteral("今天天气不错"));

        rig.state->stopRecording();
        settle();
        QCOMPARE(pill->titleText(), QStringLiteral("处理中"));
        QCOMPARE(pill->textLine(), QStringLiteral("处理中…"));
        QVERIFY(pill->showsShimmer());
        QVERIFY(!pill->showsBars());

        rig.state->cancelRecording();
        settle();
        QVERIFY(!panel->isVisible());

        rig.state->showError(QStringLiteral("无法访问麦克风，请在系统设置中允许。"));
        settle();
        QVERIFY(panel->isVisible());
        QCOMPARE(pill->titleText(), QStringLiteral("请重试"));
        QCOMPARE(pill->textLine(), QStringLiteral("无法访问麦克风，请在系统设置中允许。"));
        rig.advance(1600);
        QVERIFY(!panel->isVisible());
        // Blank texts fall back to the default ones; texts are trimmed.
        const auto shown = [](const OverlayState &state) {
            return PillOverlayView::content(state, DictationMode::polish).text;
        };
        QCOMPARE(shown(OverlayState::processing(QStringLiteral(" \n "))), QStringLiteral("AI 处理中…"));
        QCOMPARE(shown(OverlayState::processing(QStringLiteral(" 处理中… "))), QStringLiteral("处理中…"));
        QCOMPARE(shown(OverlayState::error(QString())), QStringLiteral("发生错误"));
        QCOMPARE(shown(OverlayState::error(QStringLiteral("  连接失败\n"))), QStringLiteral("连接失败"));

        // The pill's cancel button ends a recording without inserting anything.
        rig.state->toggleRecordingFromHotkey(DictationMode::translate);
        settle();
        QCOMPARE(pill->modeText(), QStringLiteral("翻译"));
        // Fn during the recording turns it back into a polished dictation, and the pill says so at once.
        rig.state->performHotkeyAction(HotkeyAction::polish);
        settle();
        QCOMPARE(pill->modeText(), QStringLiteral("言川"));
        QTest::mouseClick(pill->cancelButton(), Qt::LeftButton);
        settle();
        QCOMPARE(rig.state->status(), VoxleAppState::AppStatus::idle);
        QVERIFY(!panel->isVisible());
        QVERIFY(rig.injector.injected.isEmpty());
        QCOMPARE(controller.panelCreations(), 1);
    }

    void bars_pulseOnlyWhileShown()
    {
        FakeWaveView wave(Qt::white);
        QVERIFY(!wave.isAnimating());
        const QList<double> resting = wave.barHeights();
        wave.show();
        QTRY_VERIFY(wave.barHeights() != resting);
        wave.hide();
        QVERIFY(!wave.isAnimating());
    }
};

QTEST_MAIN(TestOverlayController)
#include "tst_OverlayController.moc"
