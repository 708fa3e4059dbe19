// The overlay on the test desktop's X server: showing it during a recording, and clicking it,
// leaves the keyboard focus in another application's text field. Run inside scripts/lib/desktop.sh.
#include "AppRig.h"
#include "app/overlay/OverlayController.h"
#include "app/overlay/PillOverlayView.h"
#include "platform/linux/XTestKeySynth.h"
#include "support/E2eHarness.h"

#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTest>

namespace {
constexpr int kTimeoutMs = 5000;

bool clickAt(const QPoint &global)
{
    return QProcess::execute(QStringLiteral("xdotool"),
                             {QStringLiteral("mousemove"), QString::number(global.x()), QString::number(global.y()),
                              QStringLiteral("click"), QStringLiteral("1")}) == 0;
}
} // namespace

class TestOverlayFocus : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs the test desktop (scripts/lib/desktop.sh)");
    }

    void recording_overlayLeavesFocusInOtherApplication()
    {
        XTestKeySynth keys;
        QVERIFY(keys.isAvailable());
        E2eHarness programs; // for its GTK text field in another process
        QVERIFY(programs.startField() && programs.focusField());
        QTRY_COMPARE_WITH_TIMEOUT(keys.focusedWindowPid(), programs.fieldPid(), kTimeoutMs);

        AppRig rig;
        OverlayController controller(*rig.state);
        controller.start();
        rig.state->toggleRecordingFromHotkey(DictationMode::polish);
        settle();
        QWidget *panel = controller.panel();
        QVERIFY(panel);
        QVERIFY(QTest::qWaitForWindowExposed(panel));
        QTest::qWait(300);
        QCOMPARE(keys.focusedWindowPid(), programs.fieldPid());
        QVERIFY(!panel->isActiveWindow());

        // A click on the pill's text neither takes the focus nor stops the dictation.
        PillOverlayView *pill = controller.pillView();
        const QPoint onPill = pill->pill()->mapToGlobal(QPoint(60, pill->pill()->height() / 2));
        QVERIFY(clickAt(onPill));
        QTest::qWait(300);
        QCOMPARE(keys.focusedWindowPid(), programs.fieldPid());
        QCOMPARE(rig.state->status(), VoxleAppState::AppStatus::recording);
        QCOMPARE(panel->pos(), OverlayController::placement(panel->screen()->availableGeometry()));

        // The cancel button works by mouse and the field keeps the focus.
        QWidget *cancel = pill->cancelButton();
        QVERIFY(clickAt(cancel->mapToGlobal(cancel->rect().center())));
        QTRY_COMPARE_WITH_TIMEOUT(rig.state->status(), VoxleAppState::AppStatus::idle, kTimeoutMs);
        QTRY_VERIFY(!panel->isVisible());
        QCOMPARE(keys.focusedWindowPid(), programs.fieldPid());
    }
};

QTEST_MAIN(TestOverlayFocus)
#include "tst_OverlayFocus.moc"
