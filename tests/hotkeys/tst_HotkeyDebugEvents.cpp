// The interpreter's diagnostic records, received by a collector on a loopback port.
#include "FakeHotkeyHost.h"
#include "QuietDebugEvents.h"
#include "diagnostics/DebugCollector.h"
#include "hotkeys/GlobalHotkeyService.h"
#include "platform/fake/FakeKeyEventTap.h"
#include "platform/fake/ManualClock.h"

#include <QTest>

using namespace KeyTap;

namespace {
using J = QJsonObject;
} // namespace

class TestHotkeyDebugEvents : public QObject
{
    Q_OBJECT

    DebugCollector m_collector;
    QuietDebugEvents m_home{m_collector.url()};
    ManualClock clock;

private slots:
    void start_listenOnlyFallbackAndRefusal_reportEachStep()
    {
        FakeKeyEventTap tap;
        FakeHotkeyHost host;
        tap.refuseActiveFilter = true;
        GlobalHotkeyService service(host, tap, clock);
        service.start();
        QTRY_COMPARE(m_collector.requests.size(), 3);
        QCOMPARE(m_collector.data("[DEBUG] hotkey service start"),
                 (J{{QStringLiteral("preflightListenEventAccess"), true},
                    {QStringLiteral("scheme"), QStringLiteral("Fn")}}));
        QCOMPARE(m_collector.data("[DEBUG] event tap enabled"), (J{{QStringLiteral("listenOnly"), true}}));

        FakeKeyEventTap refusing;
        host.scheme = HotkeyScheme::custom;
        refusing.refuseActiveFilter = refusing.refuseListenOnly = true;
        GlobalHotkeyService refused(host, refusing, clock);
        refused.start();
        QTRY_COMPARE(m_collector.withMessage("[DEBUG] CGEvent.tapCreate failed").size(), 1);
        QCOMPARE(m_collector.data("[DEBUG] CGEvent.tapCreate failed"),
                 (J{{QStringLiteral("listenEventAccess"), true}}));
    }

    void fnScheme_edgeAndCombos_reportTheirData()
    {
        m_collector.requests.clear();
        FakeKeyEventTap tap;
        FakeHotkeyHost host;
        GlobalHotkeyService service(host, tap, clock);
        service.start();
        tap.flags(keyFn, flagFn);
        tap.keyDown(keySpace, flagFn);
        tap.keyUp(keySpace, flagFn);
        tap.flags(keyShift, flagFn | flagShift);
        host.status = HotkeyHost::DictationStatus::recording;
        host.mode = DictationMode::translate;
        tap.flags(keyShift, flagFn);
        tap.flags(keyFn, 0);
        tap.flags(keyFn, flagFn);
        QTRY_COMPARE(m_collector.withMessage("[DEBUG] fn stop recording").size(), 1);
        QTRY_COMPARE(m_collector.withMessage("[DEBUG] fn edge detected").size(), 2);
        QCOMPARE(m_collector.data("[DEBUG] fn edge detected"), (J{{QStringLiteral("keyCode"), 63},
                                                                  {QStringLiteral("fnNow"), true},
                                                                  {QStringLiteral("fnDown"), false},
                                                                  {QStringLiteral("status"), QStringLiteral("空闲")}}));
        QCOMPARE(m_collector.data("[DEBUG] fn edge detected", 1).value(QStringLiteral("status")).toString(),
                 QStringLiteral("录音中"));
        QCOMPARE(m_collector.data("[DEBUG] fn stop recording"),
                 (J{{QStringLiteral("activeMode"), QStringLiteral("语音翻译")}}));
        QCOMPARE(m_collector.data("[DEBUG] fn + space trigger"), (J{{QStringLiteral("keyCode"), 49}}));
        QCOMPARE(m_collector.withMessage("[DEBUG] fn + left shift trigger").size(), 1);

        const auto str = [](const char *s) { return QString::fromLatin1(s); };
        QCOMPARE(m_collector.data("[DEBUG] key event"),
                 (J{{str("scheme"), str("Fn")}, {str("fn"), true}, {str("shift"), false}, {str("control"), false},
                    {str("command"), false}, {str("type"), 10}, {str("keyCode"), 49}, {str("isRepeat"), false}}));
        QTRY_COMPARE(m_collector.withMessage("[DEBUG] key event").size(), 2);
        QCOMPARE(m_collector.data("[DEBUG] key event", 1).value(str("type")), QJsonValue(int(keyUp)));
        const J shiftDown = m_collector.data("[DEBUG] flagsChanged", 1);
        QCOMPARE(shiftDown.value(str("keyCode")), QJsonValue(56));
        QCOMPARE(shiftDown.value(str("shift")), QJsonValue(true));
    }
};

QTEST_GUILESS_MAIN(TestHotkeyDebugEvents)
#include "tst_HotkeyDebugEvents.moc"
