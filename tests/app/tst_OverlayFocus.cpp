// The overlay on a real X server (Xvfb, no window manager): showing it during a recording, and clicking it,
// leaves the keyboard focus in another application's text field. Run inside scripts/lib/desktop.sh.
#include "AppRig.h"
#include "app/overlay/OverlayController.h"
#include "app/overlay/PillOverlayView.h"
#include "platform/linux/XTestKeySynth.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTest>

namespace {
constexpr int kStartTimeoutMs = 15000;
constexpr int kTimeoutMs = 5000;

// A GTK text entry in its own process that reports focus and every change on its standard output.
class GtkEntry
{
public:
    GtkEntry()
    {
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process, [this] {
            while (m_process.canReadLine())
                lines << QString::fromUtf8(m_process.readLine()).chopped(1);
        });
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(VOXLE_GTK_ENTRY)});
    }
    ~GtkEntry()
    {
        m_process.kill();
        m_process.waitForFinished(kTimeoutMs);
    }
    bool waitFor(const QString &line, int timeoutMs = kTimeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        while (!lines.contains(line) && timer.elapsed() < timeoutMs && m_process.state() != QProcess::NotRunning)
            QTest::qWait(10);
        return lines.contains(line);
    }
    qint64 pid() const { return m_process.processId(); }
    QStringList lines;

private:
    QProcess m_process;
};

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
        GtkEntry entry;
        QVERIFY(entry.waitFor(QStringLiteral("FOCUSED"), kStartTimeoutMs));
        QTRY_COMPARE_WITH_TIMEOUT(keys.focusedWindowPid(), entry.pid(), kTimeoutMs);

        AppRig rig;
        OverlayController controller(*rig.state);
        controller.start();
        rig.state->toggleRecordingFromHotkey(DictationMode::polish);
        rig.settle();
        QWidget *panel = controller.panel();
        QVERIFY(panel);
        QVERIFY(QTest::qWaitForWindowExposed(panel));
        QTest::qWait(300);
        QCOMPARE(keys.focusedWindowPid(), entry.pid());
        QVERIFY(!panel->isActiveWindow());

        // Typing still reaches the field.
        QVERIFY(keys.postKey(0, 0, true) && keys.postKey(0, 0, false)); // A
        QVERIFY2(entry.waitFor(QStringLiteral("TEXT:a")), qPrintable(entry.lines.join(u'|')));

        // New partial text re-shows the same panel, still without the focus.
        rig.sessions.last()->onPartialUpdated(QStringLiteral("你好"));
        rig.settle();
        QTest::qWait(200);
        QCOMPARE(controller.panel(), panel);
        QCOMPARE(keys.focusedWindowPid(), entry.pid());

        // A click on the pill's text neither takes the focus nor stops the dictation.
        PillOverlayView *pill = controller.pillView();
        const QPoint onPill = pill->pill()->mapToGlobal(QPoint(60, pill->pill()->height() / 2));
        QVERIFY(clickAt(onPill));
        QTest::qWait(300);
        QCOMPARE(keys.focusedWindowPid(), entry.pid());
        QCOMPARE(rig.state->status(), VoxleAppState::AppStatus::recording);
        QCOMPARE(panel->pos(), OverlayController::placement(panel->screen()->availableGeometry()));

        // The cancel button works by mouse and the field keeps the focus.
        QWidget *cancel = pill->cancelButton();
        QVERIFY(clickAt(cancel->mapToGlobal(cancel->rect().center())));
        QTRY_COMPARE_WITH_TIMEOUT(rig.state->status(), VoxleAppState::AppStatus::idle, kTimeoutMs);
        QTRY_VERIFY(!panel->isVisible());
        QCOMPARE(keys.focusedWindowPid(), entry.pid());
    }
};

QTEST_MAIN(TestOverlayFocus)
#include "tst_OverlayFocus.moc"
