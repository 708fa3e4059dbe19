#include "history/VoxleHistoryRetention.h"

#include <QSet>
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
    // What the retention picker shows and the settings file stores: a label and a raw value of its own for each
    // retention, and the raw value reads back as that retention.
    void everyRetention_hasItsOwnLabelAndRawValue()
    {
        QSet<QString> labels;
        QSet<QString> raws;
        for (const VoxleHistoryRetention retention : allHistoryRetentions()) {
            labels << Voxle::label(retention);
            raws << Voxle::rawValue(retention);
            QCOMPARE(parseHistoryRetention(Voxle::rawValue(retention)), retention);
        }
        QVERIFY(!labels.contains(QString()) && !raws.contains(QString()));
        QCOMPARE(labels.size(), allHistoryRetentions().size());
        QCOMPARE(raws.size(), allHistoryRetentions().size());
    }

    // Hours are absolute, weeks count calendar days in the user's zone: Berlin moved to summer time on
    // 29 March 2026, so seven calendar days back are 167 hours.
    void cutoff_hoursAreAbsoluteWeekCountsCalendarDays()
    {
        const QTimeZone berlin("Europe/Berlin");
        const QDateTime now = at("2026-03-29T12:30:45Z"); // 14:30:45 CEST
        QCOMPARE(historyRetentionCutoff(VoxleHistoryRetention::hours24, now, berlin), at("2026-03-28T12:30:45Z"));
        const QDateTime cutoff = *historyRetentionCutoff(VoxleHistoryRetention::week1, now, berlin);
        QCOMPARE(cutoff, at("2026-03-22T13:30:45Z")); // 14:30:45 CET
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
