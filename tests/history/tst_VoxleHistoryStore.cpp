#include "core/VoxleHistoryRecorder.h"
#include "history/VoxleHistoryStore.h"
#include "platform/fake/ManualClock.h"
#include "support/CaseFiles.h"
#include "support/LogCapture.h"

#include <QCoro/QCoroTask>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QThread>
#include <QTimeZone>

#include <sqlite3.h>

using Kind = VoxleHistoryEntry::Kind;

namespace {
QDateTime at(const char *iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODate);
}

QList<VoxleHistoryEntry> fetch(VoxleHistoryStore &store, std::optional<Kind> kind = std::nullopt, int limit = 100)
{
    return QCoro::waitFor(store.fetchRecent(kind, limit));
}

QStringList outputs(const QList<VoxleHistoryEntry> &entries)
{
    QStringList texts;
    for (const VoxleHistoryEntry &e : entries)
        texts << e.outputText;
    return texts;
}

// Looks at the file the way another program would, through its own connection.
class RawDb
{
public:
    explicit RawDb(const QString &path) { sqlite3_open(QFile::encodeName(path).constData(), &m_db); }
    ~RawDb() { sqlite3_close(m_db); }
    QStringList column(const char *sql)
    {
        QStringList values;
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(m_db, sql, -1, &stmt, nullptr) == SQLITE_OK) {
            while (sqlite3_step(stmt) == SQLITE_ROW)
                values << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
        }
        sqlite3_finalize(stmt);
        return values;
    }
    void exec(const char *sql) { QCOMPARE(sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr), SQLITE_OK); }

private:
    sqlite3 *m_db = nullptr;
};

QStringList filesIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files, QDir::Name);
}

// Writes over the file from offset on; from the start, the bytes become its whole content.
void overwrite(const QString &path, const QByteArray &bytes, qint64 offset = 0)
{
    QFile file(path);
    QVERIFY(file.open(offset == 0 ? QIODevice::WriteOnly : QIODevice::ReadWrite));
    QVERIFY(file.seek(offset));
    QCOMPARE(file.write(bytes), bytes.size());
}

// Every operation on a store that cannot open its file answers empty and does not crash.
void exerciseBrokenStore(VoxleHistoryStore &store, const ManualClock &clock)
{
    store.insert(Kind::record, QStringLiteral("r"), QStringLiteral("o"), clock.now());
    QCOMPARE(fetch(store), QList<VoxleHistoryEntry>());
    QCoro::waitFor(store.applyRetention(VoxleHistoryRetention::never));
    QCoro::waitFor(store.deleteAll());
    QCoro::waitFor(store.remove(1));
}
} // namespace

class TestVoxleHistoryStore : public QObject
{
    Q_OBJECT

    CaseFolders m_cases;
    ManualClock m_clock; // only read for "now"
    QString freshDir() { return m_cases.fresh(QStringLiteral("Voxle")); }

private slots:
    void initTestCase() { QVERIFY(m_cases.isValid()); }

    // A fresh store: private files in write-ahead mode at the current schema; texts trimmed, blank output skipped.
    void insert_createsPrivateFilesTrimsTextsAndSkipsBlankOutput()
    {
        const QString dir = freshDir();
        VoxleHistoryStore store(dir, m_clock);
        store.insert(Kind::record, QStringLiteral("说了话"), QStringLiteral("   \n\t "), m_clock.now());
        store.insert(Kind::record, QString(), QStringLiteral("只有输出"), m_clock.now());
        store.insert(Kind::polish, QStringLiteral("\n  第一行\n第二行  \n"), QStringLiteral(" 输出\n内行 \u3000"),
                     at("2026-12-05T17:52:21.789Z"));

        const QList<VoxleHistoryEntry> rows = fetch(store);
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0].rawText, QStringLiteral("第一行\n第二行"));
        QCOMPARE(rows[0].outputText, QStringLiteral("输出\n内行"));
        QCOMPARE(rows[0].createdAt, at("2026-12-05T17:52:21Z")); // to the second
        QCOMPARE(rows[0].kind, Kind::polish);
        QCOMPARE(rows[1].rawText, QString());
        QCOMPARE(rows[1].outputText, QStringLiteral("只有输出"));

        QCOMPARE(modeOf(dir), 0700);
        for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
            QCOMPARE(modeOf(store.databasePath() + suffix), 0600);
        RawDb raw(store.databasePath());
        QCOMPARE(raw.column("PRAGMA journal_mode;"), QStringList{QStringLiteral("wal")});
        QCOMPARE(raw.column("PRAGMA user_version;"), QStringList{QStringLiteral("1")});
        QCOMPARE(raw.column("SELECT created_at FROM dictation_history ORDER BY id DESC LIMIT 1;"),
                 QStringList{QStringLiteral("2026-12-05T17:52:21Z")});
    }

    // Newest first by id (not by the clock, which may go backwards), by kind, within the limit; a removed
    // row's id is never given out again, also after a reopen.
    void fetchAndRemove_newestFirstByKindAndIdsAreNeverReused()
    {
        const QString dir = freshDir();
        const sqlite3_int64 memoryBefore = sqlite3_memory_used();
        qint64 lastId = 0;
        const QStringList kept{QStringLiteral("t3"), QStringLiteral("t2"), QStringLiteral("t1"), QStringLiteral("t0")};
        {
            VoxleHistoryStore store(dir, m_clock);
            const QList<Kind> kinds = {Kind::polish, Kind::record, Kind::polish, Kind::translate, Kind::polish};
            for (int i = 0; i < kinds.size(); ++i)
                store.insert(kinds[i], QString(), QStringLiteral("t%1").arg(i), m_clock.now().addSecs(-60 * i));
            QCOMPARE(outputs(fetch(store, Kind::polish, 2)), (QStringList{QStringLiteral("t4"), QStringLiteral("t2")}));
            lastId = fetch(store).first().id;
            QCoro::waitFor(store.remove(lastId));
            QCoro::waitFor(store.remove(lastId + 100)); // missing: nothing happens
            QCOMPARE(outputs(fetch(store)), kept);
            store.insert(Kind::record, QString(), QStringLiteral("c"), m_clock.now()); // pending at destruction
        }
        QCOMPARE(sqlite3_memory_used(), memoryBefore); // every statement and the connection given back
        VoxleHistoryStore reopened(dir, m_clock);
        const QList<VoxleHistoryEntry> rows = fetch(reopened);
        QCOMPARE(outputs(rows), QStringList{QStringLiteral("c")} + kept);
        QVERIFY(rows.first().id > lastId);
    }

    void operations_runInSubmissionOrder()
    {
        LogCapture log(QByteArrayLiteral("app.voxle.desktop.History"));
        VoxleHistoryStore store(freshDir(), m_clock);
        for (int i = 0; i < 50; ++i)
            store.insert(Kind::record, QString(), QStringLiteral("before %1").arg(i), m_clock.now());
        // Submitted between two bursts of inserts: sees the first burst only.
        QCoro::Task<QList<VoxleHistoryEntry>> between = store.fetchRecent(std::nullopt, 1000);
        for (int i = 0; i < 50; ++i)
            store.insert(Kind::record, QString(), QStringLiteral("after %1").arg(i), m_clock.now());
        QCoro::Task<> cleared = store.deleteAll();
        store.insert(Kind::polish, QString(), QStringLiteral("last"), m_clock.now());
        const QList<VoxleHistoryEntry> first = QCoro::waitFor(std::move(between));
        QCOMPARE(first.size(), 50);
        QCOMPARE(first.first().outputText, QStringLiteral("before 49"));
        QCoro::waitFor(std::move(cleared));
        QCOMPARE(outputs(fetch(store)), QStringList{QStringLiteral("last")});
        QCOMPARE(LogCapture::text(), QString()); // a healthy store has nothing to report
    }

    void foreignRows_skippedByFetchButDeletedByDeleteAllAndRetention()
    {
        ManualClock clock(at("2026-12-06T12:00:00Z"));
        VoxleHistoryStore store(freshDir(), clock);
        store.insert(Kind::record, QString(), QStringLiteral("ours"), at("2026-12-06T11:00:00Z"));
        QCOMPARE(fetch(store).size(), 1); // stored before the foreign rows
        {
            RawDb raw(store.databasePath());
            raw.exec("INSERT INTO dictation_history(created_at, kind, raw_text, output_text) VALUES"
                     "('2026-12-06T11:30:00Z', 'dictate', '', 'foreign kind'),"
                     "('2026-11-01T11:30:00Z', 'summary', '', 'old foreign kind'),"
                     "('yesterday', 'record', '', 'bad date'),"
                     "('2026-12-06T11:30:00.123Z', 'record', '', 'fraction'),"
                     "('2026-12-06T19:30:00+08:00', 'polish', '', 'offset');");
        }
        const QList<VoxleHistoryEntry> rows = fetch(store);
        QCOMPARE(outputs(rows), (QStringList{QStringLiteral("offset"), QStringLiteral("ours")}));
        QCOMPARE(rows.first().createdAt, at("2026-12-06T11:30:00Z"));

        QCoro::waitFor(store.applyRetention(VoxleHistoryRetention::week1));
        QCOMPARE(RawDb(store.databasePath())
                     .column("SELECT output_text FROM dictation_history WHERE id > 0 "
                             "AND output_text LIKE '%foreign%';"),
                 QStringList{QStringLiteral("foreign kind")});
        QCoro::waitFor(store.deleteAll());
        QCOMPARE(RawDb(store.databasePath()).column("SELECT count(*) FROM dictation_history;"),
                 QStringList{QStringLiteral("0")});
    }

    // Driven as the application drives it, through the recorder; the settings file's raw values are read
    // strictly, and the database holds the kinds' raw values.
    void applyRetention_cutsAtTheRightMoment()
    {
        ManualClock clock(at("2026-12-06T12:00:00.500Z"));
        VoxleHistoryStore store(freshDir(), clock);
        VoxleHistoryRecorder recorder(store);
        const QDateTime now = clock.now();
        recorder.insert(Kind::record, QString(), QStringLiteral("40d"), now.addDays(-40));
        recorder.insert(Kind::record, QString(), QStringLiteral("8d"), now.addDays(-8));
        recorder.insert(Kind::record, QString(), QStringLiteral("25h"), now.addSecs(-25 * 3600));
        recorder.insert(Kind::polish, QString(), QStringLiteral("23h"), now.addSecs(-23 * 3600));
        recorder.insert(Kind::translate, QString(), QStringLiteral("1s"), now.addSecs(-1));
        recorder.insert(Kind::record, QString(), QStringLiteral("now"), now);
        QCOMPARE(outputs(fetch(store, Kind::polish)), QStringList{QStringLiteral("23h")});
        QCOMPARE(
            RawDb(store.databasePath()).column("SELECT kind FROM dictation_history GROUP BY kind ORDER BY min(id);"),
            (QStringList{QStringLiteral("record"), QStringLiteral("polish"), QStringLiteral("translate")}));

        recorder.applyRetention(VoxleHistoryRetention::keepForever);
        const QStringList newestFirst{QStringLiteral("now"), QStringLiteral("1s"), QStringLiteral("23h"),
                                      QStringLiteral("25h"), QStringLiteral("8d"), QStringLiteral("40d")};
        QCOMPARE(outputs(fetch(store)), newestFirst);
        // The picker shows a label of its own for each retention.
        QSet<QString> labels{QString()};
        for (const VoxleHistoryRetention retention : allHistoryRetentions())
            labels << Voxle::label(retention);
        QCOMPARE(labels.size(), allHistoryRetentions().size() + 1);
        // How many of the newest rows each retention keeps; "never" keeps the row created within this second.
        const std::pair<const char *, int> steps[] = {{"month1", 5}, {"week1", 4}, {"hours24", 3}, {"never", 1}};
        for (const auto &[retention, kept] : steps) {
            recorder.applyRetention(*parseHistoryRetention(QString::fromLatin1(retention)));
            QCOMPARE(outputs(fetch(store)), newestFirst.first(kept));
        }
    }

    // Hours are absolute, weeks and months count calendar days in the user's zone: Berlin moved to summer time
    // on 29 March 2026, so seven calendar days back are 167 hours; a month back from 31 March is February's end.
    void retentionCutoff_calendarDaysInTheUsersZone()
    {
        const QTimeZone berlin("Europe/Berlin");
        const QDateTime now = at("2026-03-29T12:30:45Z"); // 14:30:45 CEST
        QCOMPARE(historyRetentionCutoff(VoxleHistoryRetention::hours24, now, berlin), at("2026-03-28T12:30:45Z"));
        const QDateTime cutoff = *historyRetentionCutoff(VoxleHistoryRetention::week1, now, berlin);
        QCOMPARE(cutoff, at("2026-03-22T13:30:45Z")); // 14:30:45 CET
        QCOMPARE(cutoff.secsTo(now), 167 * 3600);

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

    void lockedFileAndFailedBatch_everyRowThatCanBeStoredIsStored()
    {
        LogCapture log(QByteArrayLiteral("app.voxle.desktop.History"));
        VoxleHistoryStore store(freshDir(), m_clock);
        {
            // Rows the database refuses: one undoes the whole transaction, the other only its own statement.
            RawDb raw(store.databasePath());
            raw.exec("CREATE TRIGGER refuse BEFORE INSERT ON dictation_history WHEN NEW.output_text = '拒收' "
                     "BEGIN SELECT RAISE(ROLLBACK, 'refused'); END;");
            raw.exec("CREATE TRIGGER reject BEFORE INSERT ON dictation_history WHEN NEW.output_text = '退回' "
                     "BEGIN SELECT RAISE(ABORT, 'rejected'); END;");
        }
        RawDb other(store.databasePath());
        QStringList stored;
        for (const char *refused : {"拒收", "退回"}) {
            // Another program holds the file locked for a moment: the store waits rather than dropping the row,
            // and meanwhile the next rows pile up into one batch behind it.
            other.exec("BEGIN IMMEDIATE;");
            store.insert(Kind::record, QString(), QStringLiteral("first"), m_clock.now());
            QThread::msleep(200);
            for (const char *text : {"秘密一", refused, "秘密二"})
                store.insert(Kind::record, QStringLiteral("说的话"), QString::fromUtf8(text), m_clock.now());
            other.exec("COMMIT;");
            stored = QStringList{QStringLiteral("秘密二"), QStringLiteral("秘密一"), QStringLiteral("first")} + stored;
            QCOMPARE(outputs(fetch(store)), stored);
        }
        // Each refused row was one of a batch (the locked row itself may have joined it).
        QCOMPARE(LogCapture::text().count(QRegularExpression(QStringLiteral("\\b1 of [34] rows not stored"))), 2);
        QCOMPARE(LogCapture::text().count(QStringLiteral("batch insert failed")), 2);
        for (const QString &word :
             {QStringLiteral("秘密"), QStringLiteral("拒收"), QStringLiteral("退回"), QStringLiteral("说的话")})
            QVERIFY(!LogCapture::text().contains(word));
    }

    void damagedFile_isMovedAsideAndANewHistoryStarts()
    {
        // Not a database at all, and a database whose table pages are garbage.
        const QString junkDir = freshDir();
        QVERIFY(QDir().mkpath(junkDir));
        const QByteArray junk = QByteArray("This is not an SQLite database, just some words.\n").repeated(200);
        overwrite(junkDir + QStringLiteral("/history.db"), junk);
        const QString corruptDir = freshDir();
        const QString corruptPath = corruptDir + QStringLiteral("/history.db");
        {
            VoxleHistoryStore store(corruptDir, m_clock);
            for (int i = 0; i < 50; ++i)
                store.insert(Kind::record, QString(), QStringLiteral("old %1").arg(i), m_clock.now().addDays(-1));
            QCOMPARE(fetch(store).size(), 50);
        }
        const char *rootSql = "SELECT rootpage FROM sqlite_master WHERE name = 'dictation_history';";
        const int root = RawDb(corruptPath).column(rootSql).value(0).toInt();
        QVERIFY(root > 1);
        overwrite(corruptPath, QByteArray(4096, '\x5a'), qint64(root - 1) * 4096);
        const QByteArray corrupt = readFile(corruptPath);
        const QString insertDir = freshDir();
        QVERIFY(QDir().mkpath(insertDir));
        overwrite(insertDir + QStringLiteral("/history.db"), corrupt);
        for (const auto &[dir, original] :
             {std::pair{junkDir, junk}, std::pair{corruptDir, corrupt}, std::pair{insertDir, corrupt}}) {
            LogCapture log(QByteArrayLiteral("app.voxle.desktop.History"));
            VoxleHistoryStore store(dir, m_clock);
            // Whatever meets the damage first moves the file aside: the opening, a retention, or an insert whose
            // row then goes into the new file (known stored once a fetch after it has answered).
            const bool insertFirst = dir == insertDir;
            if (insertFirst)
                store.insert(Kind::polish, QString(), QStringLiteral("new"), m_clock.now());
            else
                QCoro::waitFor(store.applyRetention(VoxleHistoryRetention::never));
            const QList<VoxleHistoryEntry> first = insertFirst ? fetch(store) : QList<VoxleHistoryEntry>();
            const QStringList aside = QDir(dir).entryList({QStringLiteral("history.db.corrupt-*")}, QDir::Files);
            QCOMPARE(aside.size(), 1);
            QCOMPARE(readFile(dir + QLatin1Char('/') + aside.first()), original);
            QVERIFY(LogCapture::text().contains(QStringLiteral("moved aside to")));
            if (!insertFirst)
                store.insert(Kind::polish, QString(), QStringLiteral("new"), m_clock.now());
            QCOMPARE(outputs(insertFirst ? first : fetch(store)), QStringList{QStringLiteral("new")});
        }
    }

    // A location or a file the store cannot use: it answers empty without crashing, and moves nothing aside.
    void unusableLocationOrBusyFile_behavesAsEmptyAndIsNeverMovedAside()
    {
        // A plain file where the data folder should be: the folder cannot be created, even by root.
        const QString blocker = m_cases.path() + QStringLiteral("/blocker");
        overwrite(blocker, QByteArray());
        const sqlite3_int64 memoryBefore = sqlite3_memory_used();
        {
            VoxleHistoryStore store(blocker + QStringLiteral("/Voxle"), m_clock);
            exerciseBrokenStore(store, m_clock);
        }
        // The failed open gave its connection back.
        QCOMPARE(sqlite3_memory_used(), memoryBefore);

        const QString dir = freshDir();
        {
            VoxleHistoryStore store(dir, m_clock);
            store.insert(Kind::record, QString(), QStringLiteral("kept"), m_clock.now());
        }
        // Locked by another program for longer than the store waits: busy, not damaged.
        {
            RawDb other(dir + QStringLiteral("/history.db"));
            other.exec("PRAGMA journal_mode=DELETE;");
            other.exec("BEGIN EXCLUSIVE;");
            VoxleHistoryStore store(dir, m_clock, 50);
            QCOMPARE(fetch(store).size(), 0);
            other.exec("COMMIT;");
            QCOMPARE(outputs(fetch(store)), QStringList{QStringLiteral("kept")});
        }
        QCOMPARE(filesIn(dir), QStringList{QStringLiteral("history.db")});

        // Damaged while another running instance has it: only that instance may move it.
        QProcess owner;
        owner.start(QStringLiteral(HISTORY_CHILD), {dir});
        QVERIFY(owner.waitForReadyRead(10000));
        QCOMPARE(owner.readLine(), QByteArray("ready\n"));
        const QByteArray junk(8192, '\x01');
        for (const QString &name : filesIn(dir))
            if (name.startsWith(QStringLiteral("history.db-")))
                QFile::remove(dir + QLatin1Char('/') + name);
        overwrite(dir + QStringLiteral("/history.db"), junk);
        {
            LogCapture log(QByteArrayLiteral("app.voxle.desktop.History"));
            VoxleHistoryStore second(dir, m_clock);
            exerciseBrokenStore(second, m_clock);
            QVERIFY(LogCapture::text().contains(QStringLiteral("another running instance")));
            QVERIFY(!LogCapture::text().contains(QStringLiteral(" failed:"))); // no operation tried on it
        }
        QCOMPARE(readFile(dir + QStringLiteral("/history.db")), junk);
        QVERIFY(filesIn(dir).filter(QStringLiteral("corrupt")).isEmpty());
        owner.closeWriteChannel();
        QVERIFY(owner.waitForFinished(10000));
        VoxleHistoryStore afterwards(dir, m_clock);
        QCOMPARE(filesIn(dir).filter(QStringLiteral("corrupt")).size(), 1);
    }

    void schemaVersion_oldFilesMigrateNewerFilesStayUntouched()
    {
        const QString oldDir = freshDir();
        const QString newerDir = freshDir();
        const char *table = "CREATE TABLE dictation_history(id INTEGER PRIMARY KEY AUTOINCREMENT, created_at TEXT "
                            "NOT NULL, kind TEXT NOT NULL, raw_text TEXT NOT NULL, output_text TEXT NOT NULL%1);";
        for (const QString &dir : {oldDir, newerDir}) {
            QVERIFY(QDir().mkpath(dir));
            RawDb raw(dir + QStringLiteral("/history.db"));
            const bool newer = dir == newerDir;
            raw.exec(QByteArray(table).replace("%1", newer ? ", mood TEXT" : "").constData());
            raw.exec("INSERT INTO dictation_history(created_at, kind, raw_text, output_text) "
                     "VALUES('2026-12-06T11:00:00Z', 'record', 'r', 'kept');");
            if (newer)
                raw.exec("PRAGMA user_version=7;");
        }
        {
            VoxleHistoryStore store(oldDir, m_clock);
            store.insert(Kind::record, QString(), QStringLiteral("added"), m_clock.now());
            QCOMPARE(outputs(fetch(store)), (QStringList{QStringLiteral("added"), QStringLiteral("kept")}));
        }
        RawDb old(oldDir + QStringLiteral("/history.db"));
        QCOMPARE(old.column("PRAGMA user_version;"), QStringList{QStringLiteral("1")});
        QCOMPARE(old.column("SELECT count(*) FROM sqlite_master WHERE type = 'index';"),
                 QStringList{QStringLiteral("2")});

        const QString newerPath = newerDir + QStringLiteral("/history.db");
        const char *schemaSql = "SELECT group_concat(sql) FROM sqlite_master;";
        const QStringList schemaBefore = RawDb(newerPath).column(schemaSql);
        {
            VoxleHistoryStore store(newerDir, m_clock);
            QCOMPARE(outputs(fetch(store)), QStringList{QStringLiteral("kept")});
            store.insert(Kind::record, QString(), QStringLiteral("added"), m_clock.now());
            QCoro::waitFor(store.deleteAll());
            QCoro::waitFor(store.applyRetention(VoxleHistoryRetention::never));
            QCOMPARE(outputs(fetch(store)), QStringList{QStringLiteral("kept")});
        }
        RawDb newer(newerPath);
        QCOMPARE(newer.column("PRAGMA user_version;"), QStringList{QStringLiteral("7")});
        QCOMPARE(newer.column(schemaSql), schemaBefore);
        QCOMPARE(newer.column("PRAGMA journal_mode;"), QStringList{QStringLiteral("delete")});

        // A migration that fails half way is undone, and leaves the file free for other programs to write.
        const QString failedDir = freshDir();
        QVERIFY(QDir().mkpath(failedDir));
        RawDb failed(failedDir + QStringLiteral("/history.db"));
        failed.exec("CREATE TABLE dictation_history(id INTEGER PRIMARY KEY, created_at TEXT NOT NULL);");
        VoxleHistoryStore store(failedDir, m_clock);
        QCOMPARE(fetch(store).size(), 0);
        failed.exec("BEGIN IMMEDIATE; COMMIT;");
        QCOMPARE(failed.column("SELECT count(*) FROM sqlite_master WHERE type = 'index';"),
                 QStringList{QStringLiteral("0")});
    }
};

QTEST_GUILESS_MAIN(TestVoxleHistoryStore)
#include "tst_VoxleHistoryStore.moc"
