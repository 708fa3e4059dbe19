#include "core/VoxleAccount.h"

#include <QTest>

// The ISO 8601 forms a sign-in expiry may take; validity and character counts are tested through the flows.
class TestAccountRules : public QObject
{
    Q_OBJECT
private slots:
    void parseUtcDate_acceptsInternetDateTimes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("expected"); // invalid = rejected
        const QDateTime eight(QDate(2026, 12, 5), QTime(8, 0), Qt::UTC);
        QTest::newRow("micro") << QStringLiteral("2026-12-05T08:00:00.250999Z") << eight.addMSecs(250);
        QTest::newRow("offset") << QStringLiteral("2026-12-05T16:00:00+08:00") << eight;
        QTest::newRow("offset minutes") << QStringLiteral("2026-12-05T02:30:00-05:30") << eight;
        QTest::newRow("no zone") << QStringLiteral("2026-12-05T08:00:00") << QDateTime();
        QTest::newRow("space") << QStringLiteral("2026-12-05 08:00:00Z") << QDateTime();
        QTest::newRow("bad day") << QStringLiteral("2026-02-30T08:00:00Z") << QDateTime();
        QTest::newRow("bad hour") << QStringLiteral("2026-12-05T24:00:00Z") << QDateTime();
        QTest::newRow("empty fraction") << QStringLiteral("2026-12-05T08:00:00.Z") << QDateTime();
    }
    void parseUtcDate_acceptsInternetDateTimes()
    {
        QFETCH(QString, text);
        QFETCH(QDateTime, expected);
        const std::optional<QDateTime> parsed = VoxleAccount::parseUtcDate(text);
        QCOMPARE(parsed.has_value(), expected.isValid());
        if (parsed)
            QCOMPARE(*parsed, expected);
    }
};

QTEST_GUILESS_MAIN(TestAccountRules)
#include "tst_AccountRules.moc"
