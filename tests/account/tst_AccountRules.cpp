#include "core/VoxleAccount.h"

#include <QTest>

// The account's pure rules: sign-in validity, ISO 8601 forms and character counts.
class TestAccountRules : public QObject
{
    Q_OBJECT
private slots:
    void parseUtcDate_acceptsInternetDateTimes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("expected"); // invalid = rejected
        const QDateTime eight(QDate(2026, 12, 5), QTime(8, 0), Qt::UTC);
        QTest::newRow("fractional") << QStringLiteral("2026-12-05T08:00:00.000Z") << eight;
        QTest::newRow("whole seconds") << QStringLiteral("2026-12-05T08:00:00Z") << eight;
        QTest::newRow("micro") << QStringLiteral("2026-12-05T08:00:00.250999Z") << eight.addMSecs(250);
        QTest::newRow("offset") << QStringLiteral("2026-12-05T16:00:00+08:00") << eight;
        QTest::newRow("no zone") << QStringLiteral("2026-12-05T08:00:00") << QDateTime();
        QTest::newRow("date only") << QStringLiteral("2026-12-05") << QDateTime();
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

    void isAuthValid_needsLongTokenAndFutureExpiry()
    {
        const QDateTime now(QDate(2026, 12, 6), QTime(12, 0), Qt::UTC);
        const QString future = QStringLiteral(" 2026-12-06T12:00:01Z\n");
        QVERIFY(VoxleAccount::isAuthValid(QStringLiteral("12345678901"), future, now));
        QVERIFY(!VoxleAccount::isAuthValid(QStringLiteral("1234567890"), future, now));
        QVERIFY(!VoxleAccount::isAuthValid(QStringLiteral("  1234567890  "), future, now));
        QVERIFY(!VoxleAccount::isAuthValid(std::nullopt, future, now));
        QVERIFY(
            !VoxleAccount::isAuthValid(QStringLiteral("12345678901"), QStringLiteral("2026-12-06T12:00:00.000Z"), now));
        QVERIFY(!VoxleAccount::isAuthValid(QStringLiteral("12345678901"), QStringLiteral("  "), now));
        QVERIFY(!VoxleAccount::isAuthValid(QStringLiteral("12345678901"), std::nullopt, now));
        QVERIFY(!VoxleAccount::isAuthValid(QStringLiteral("12345678901"), QStringLiteral("tomorrow"), now));
    }

    void characterCount_countsGraphemeClusters()
    {
        QCOMPARE(VoxleAccount::characterCount(QString()), 0);
        QCOMPARE(VoxleAccount::characterCount(QStringLiteral("你好")), 2);
        QCOMPARE(VoxleAccount::characterCount(QStringLiteral("👍🏽")), 1);              // emoji + skin tone
        QCOMPARE(VoxleAccount::characterCount(QStringLiteral("e\u0301")), 1);               // e + combining acute
        QCOMPARE(VoxleAccount::characterCount(QStringLiteral("👨‍👩‍👧 ok")), 4); // ZWJ family
        QCOMPARE(VoxleAccount::characterCount(QStringLiteral("\r\n")), 1);
    }
};

QTEST_GUILESS_MAIN(TestAccountRules)
#include "tst_AccountRules.moc"
