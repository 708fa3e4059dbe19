#include "history/VoxleHistoryRetention.h"

#include <QTest>

namespace {
QDateTime at(const char *iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODate);
}
} // namespace

class TestVoxleHistoryRetention : public QObject
{
    Q_OBJECT
private slots:
    void cutoff_hoursAreAbsoluteAndNeverIsNow()
    {
        const QDateTime now = at("2026-03-29T12:30:45Z");
        const QTimeZone berlin("Europe/Berlin");
        QCOMPARE(historyRetentionCutoff(VoxleHistoryRetention::hours24, now, berlin), at("2026-03-28T12:30:45Z"));
        QCOMPARE(historyRetentionCutoff(VoxleHistoryRetention::never, now, berlin), now);
        QCOMPARE(historyRetentionCutoff(VoxleHistoryRetention::keepForever, now, berlin), std::nullopt);
    }

    void cutoff_weekCountsCalendarDaysAcrossDaylightSaving()
    {
        // Berlin moved to summer time on 29 March 2026: seven calendar days back are 167 hours.
        const QTimeZone berlin("Europe/Berlin");
        const QDateTime now = at("2026-04-01T10:00:00Z"); // 12:00 CEST
        const QDateTime cutoff = *historyRetentionCutoff(VoxleHistoryRetention::week1, now, berlin);
        QCOMPARE(cutoff, at("2026-03-25T11:00:00Z")); // 12:00 CET
        QCOMPARE(cutoff.secsTo(now), 167 * 3600);
    }

    void cutoff_monthFrom31MarchIsLastDayOfFebruary()
    {
        const QTimeZone shanghai("Asia/Shanghai");
        QCOMPARE(historyRetentionCutoff(VoxleHistoryRetention::month1, at("2026-03-31T02:00:00Z"), shanghai),
                 at("2026-02-28T02:00:00Z"));
        QCOMPARE(historyRetentionCutoff(VoxleHistoryRetention::month1, at("2028-03-31T02:00:00Z"), shanghai),
                 at("2028-02-29T02:00:00Z"));
        // 30 March 20:00 UTC is already 31 March in Shanghai: the user's zone decides which day is clamped.
        QCOMPARE(historyRetentionCutoff(VoxleHistoryRetention::month1, at("2026-03-30T20:00:00Z"), shanghai),
                 at("2026-02-27T20:00:00Z"));
        QCOMPARE(historyRetentionCutoff(VoxleHistoryRetention::month1, at("2026-03-30T20:00:00Z"), QTimeZone::utc()),
                 at("2026-02-28T20:00:00Z"));
    }
};

QTEST_GUILESS_MAIN(TestVoxleHistoryRetention)
#include "tst_VoxleHistoryRetention.moc"
