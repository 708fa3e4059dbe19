#include "history/VoxleHistoryWorker.h"

#include "history/HistoryLogging.h"
#include "history/SqliteStatement.h"

#include <QDateTime>
#include <QFile>
#include <QLockFile>
#include <QRegularExpression>

#include <sqlite3.h>

#include <array>

namespace {
const char *const kInsertSql = "INSERT INTO dictation_history(created_at, kind, raw_text, output_text) "
                               "VALUES(?, ?, ?, ?);";

// Migration n brings a database at version n - 1 to version n. Version 0 is a new file or one written before
// versions were recorded, which already has the version 1 tables: its statements leave those as they are.
struct Migration {
    int version;
    const char *sql; // its statements, run in order until one fails
};
constexpr std::array<Migration, 1> kMigrations{{
    {1, "CREATE TABLE IF NOT EXISTS dictation_history(\n"
        "  id INTEGER PRIMARY KEY AUTOINCREMENT,\n"
        "  created_at TEXT NOT NULL,\n"
        "  kind TEXT NOT NULL,\n"
        "  raw_text TEXT NOT NULL,\n"
        "  output_text TEXT NOT NULL\n"
        ");\n"
        "CREATE INDEX IF NOT EXISTS idx_dictation_history_created_at ON dictation_history(created_at);\n"
        "CREATE INDEX IF NOT EXISTS idx_dictation_history_kind ON dictation_history(kind);"},
}};
static_assert(kMigrations.back().version == VoxleHistoryWorker::kSchemaVersion);

bool succeeded(int rc)
{
    return rc == SQLITE_OK || rc == SQLITE_ROW || rc == SQLITE_DONE;
}

// Only these mean the file itself is damaged; busy, locked, read-only and full files are left alone.
bool isDamaged(int rc)
{
    const int primary = rc & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

QString describe(int rc)
{
    return QStringLiteral("%1 (%2)").arg(QString::fromUtf8(sqlite3_errstr(rc))).arg(rc);
}
} // namespace

VoxleHistoryWorker::VoxleHistoryWorker(QString dbPath, int busyTimeoutMs)
    : m_dbPath(std::move(dbPath)), m_busyTimeoutMs(busyTimeoutMs)
{
}

VoxleHistoryWorker::~VoxleHistoryWorker()
{
    close();
}

void VoxleHistoryWorker::initialize()
{
    m_instanceLock = std::make_unique<QLockFile>(m_dbPath + QStringLiteral(".lock"));
    // Only a lock whose process is gone is stale, however old it is (Qt's lock is also an flock on Linux).
    m_instanceLock->setStaleLockTime(0);
    m_ownsFile = m_instanceLock->tryLock(0);
    open();
}

bool VoxleHistoryWorker::open()
{
    if (m_db)
        return true;
    const int rc = connect();
    if (isDamaged(rc) && moveAside(rc))
        connect();
    return m_db != nullptr;
}

int VoxleHistoryWorker::connect()
{
    // Private words: create the file readable by its owner only before SQLite does (its journal files then
    // take the same mode).
    if (!QFile::exists(m_dbPath))
        QFile(m_dbPath).open(QIODevice::WriteOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    sqlite3 *db = nullptr;
    const QByteArray path = QFile::encodeName(m_dbPath);
    const int opened = sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (opened != SQLITE_OK) {
        qCWarning(lcHistory).noquote() << "[VoxleHistoryStore] cannot open" << m_dbPath << ":" << describe(opened);
        sqlite3_close(db);
        return opened;
    }
    // Another program (a backup, a second instance, sqlite3 in a terminal) may hold a lock for a moment.
    sqlite3_busy_timeout(db, m_busyTimeoutMs);
    m_db = db;
    // The version is read first: a newer program's file does not even get its journal mode changed.
    int rc = migrate();
    if (succeeded(rc) && m_newerVersion == 0)
        rc = exec("PRAGMA journal_mode=WAL;");
    if (succeeded(rc))
        rc = exec("PRAGMA synchronous=NORMAL;");
    if (isDamaged(rc)) {
        close();
        return rc; // the caller says what becomes of it
    }
    if (!succeeded(rc))
        qCWarning(lcHistory).noquote() << "[VoxleHistoryStore] preparing" << m_dbPath << "failed:" << describe(rc);
    // Anything else (a lock held too long, a read-only file) is no reason to give up reading it.
    return SQLITE_OK;
}

int VoxleHistoryWorker::migrate()
{
    int version = 0;
    {
        SqliteStatement stmt(m_db, "PRAGMA user_version;");
        const int rc = stmt.step();
        if (rc != SQLITE_ROW)
            return rc;
        version = static_cast<int>(stmt.columnInt64(0));
    }
    if (version > kSchemaVersion) {
        if (m_newerVersion != version) {
            qCWarning(lcHistory).noquote()
                << QStringLiteral("[VoxleHistoryStore] %1 has schema version %2, newer than this program's %3: "
                                  "it is read as far as possible and left unchanged")
                       .arg(m_dbPath)
                       .arg(version)
                       .arg(kSchemaVersion);
        }
        m_newerVersion = version;
        return SQLITE_OK;
    }
    m_newerVersion = 0;
    for (const Migration &migration : kMigrations) {
        if (migration.version <= version)
            continue;
        int rc = exec("BEGIN IMMEDIATE;");
        if (succeeded(rc))
            rc = exec(migration.sql);
        if (succeeded(rc))
            rc = exec(QByteArray("PRAGMA user_version=" + QByteArray::number(migration.version) + ";").constData());
        if (succeeded(rc))
            rc = exec("COMMIT;");
        if (!succeeded(rc)) {
            rollbackIfOpen();
            return rc;
        }
    }
    return SQLITE_OK;
}

int VoxleHistoryWorker::exec(const char *sql)
{
    return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
}

void VoxleHistoryWorker::rollbackIfOpen()
{
    if (m_db && !sqlite3_get_autocommit(m_db))
        exec("ROLLBACK;");
}

bool VoxleHistoryWorker::writable(const char *operation)
{
    if (!open())
        return false;
    if (m_newerVersion == 0)
        return true;
    qCWarning(lcHistory).noquote() << "[VoxleHistoryStore]" << operation
                                   << "skipped: the database belongs to a newer version of the program";
    return false;
}

bool VoxleHistoryWorker::handleFailure(int rc, const char *operation)
{
    qCWarning(lcHistory).noquote() << "[VoxleHistoryStore]" << operation << "failed:" << describe(rc);
    if (!isDamaged(rc))
        return false;
    return moveAside(rc) && open();
}

bool VoxleHistoryWorker::moveAside(int rc)
{
    close();
    if (!m_ownsFile) {
        qCWarning(lcHistory).noquote() << "[VoxleHistoryStore]" << m_dbPath << "is damaged:" << describe(rc)
                                       << "; left in place, another running instance owns it";
        return false;
    }
    const QString aside = m_dbPath + QStringLiteral(".corrupt-") +
                          QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddTHHmmsszzz"));
    if (!QFile::rename(m_dbPath, aside)) {
        qCWarning(lcHistory).noquote() << "[VoxleHistoryStore]" << m_dbPath << "is damaged:" << describe(rc)
                                       << "; it could not be moved aside";
        return false;
    }
    // The log belongs to the damaged file: replayed into a new one it would damage that too.
    for (const QString &suffix : {QStringLiteral("-wal"), QStringLiteral("-journal")}) {
        if (QFile::exists(m_dbPath + suffix))
            QFile::rename(m_dbPath + suffix, aside + suffix);
    }
    QFile::remove(m_dbPath + QStringLiteral("-shm"));
    qCWarning(lcHistory).noquote() << "[VoxleHistoryStore]" << m_dbPath << "is damaged:" << describe(rc)
                                   << "; moved aside to" << aside << "and a new history started";
    return true;
}

void VoxleHistoryWorker::insert(const QList<Row> &rows)
{
    if (rows.isEmpty())
        return;
    if (!writable("insert")) {
        qCWarning(lcHistory).noquote() << "[VoxleHistoryStore]" << rows.size() << "rows not stored";
        return;
    }
    // One commit for a burst of inserts keeps them cheap.
    if (rows.size() > 1) {
        const int rc = insertBatch(rows);
        if (rc == SQLITE_OK)
            return;
        handleFailure(rc, "batch insert");
    }
    // Alone, every row that can be stored is stored, whatever became of the batch.
    int lost = 0;
    for (const Row &row : rows) {
        int rc = open() ? insertRow(row) : SQLITE_CANTOPEN;
        if (rc != SQLITE_DONE && handleFailure(rc, "insert"))
            rc = insertRow(row); // into the new database that replaced a damaged one
        if (rc != SQLITE_DONE)
            ++lost;
    }
    if (lost > 0)
        qCWarning(lcHistory).noquote() << "[VoxleHistoryStore]" << lost << "of" << rows.size() << "rows not stored";
}

int VoxleHistoryWorker::insertBatch(const QList<Row> &rows)
{
    // IMMEDIATE takes the write lock up front, waiting for another writer like any statement.
    int rc = exec("BEGIN IMMEDIATE;");
    if (!succeeded(rc))
        return rc;
    {
        SqliteStatement stmt(m_db, kInsertSql);
        for (const Row &row : rows) {
            stmt.reset();
            stmt.bindText(1, row.createdAt);
            stmt.bindText(2, row.kind);
            stmt.bindText(3, row.rawText);
            stmt.bindText(4, row.outputText);
            rc = stmt.step();
            if (rc != SQLITE_DONE)
                break; // nothing after a failed row runs, so no row is written twice by the retry
        }
    }
    if (rc == SQLITE_DONE)
        rc = exec("COMMIT;");
    if (rc != SQLITE_OK)
        rollbackIfOpen();
    return rc;
}

int VoxleHistoryWorker::insertRow(const Row &row)
{
    SqliteStatement stmt(m_db, kInsertSql);
    stmt.bindText(1, row.createdAt);
    stmt.bindText(2, row.kind);
    stmt.bindText(3, row.rawText);
    stmt.bindText(4, row.outputText);
    return stmt.step();
}

QList<VoxleHistoryEntry> VoxleHistoryWorker::fetchRecent(const std::optional<QString> &kind, int limit)
{
    QList<VoxleHistoryEntry> entries;
    if (!open())
        return entries;
    int rc = SQLITE_OK;
    {
        SqliteStatement stmt(m_db, kind ? "SELECT id, created_at, kind, raw_text, output_text FROM dictation_history "
                                          "WHERE kind = ? ORDER BY id DESC LIMIT ?;"
                                        : "SELECT id, created_at, kind, raw_text, output_text FROM dictation_history "
                                          "ORDER BY id DESC LIMIT ?;");
        if (kind) {
            stmt.bindText(1, *kind);
            stmt.bindInt(2, limit);
        } else {
            stmt.bindInt(1, limit);
        }
        entries.reserve(qBound(0, limit, 1000));
        while ((rc = stmt.step()) == SQLITE_ROW) {
            const QDateTime createdAt = parseDate(stmt.columnText(1));
            const std::optional<VoxleHistoryEntry::Kind> rowKind = parseHistoryKind(stmt.columnText(2));
            if (!createdAt.isValid() || !rowKind)
                continue; // written by something else: left in the table, never shown
            entries.append({stmt.columnInt64(0), createdAt, *rowKind, stmt.columnText(3), stmt.columnText(4)});
        }
    }
    if (rc != SQLITE_DONE)
        handleFailure(rc, "fetch");
    return entries;
}

void VoxleHistoryWorker::remove(qint64 id)
{
    if (!writable("delete"))
        return;
    int rc = SQLITE_OK;
    {
        SqliteStatement stmt(m_db, "DELETE FROM dictation_history WHERE id = ?;");
        stmt.bindInt64(1, id);
        rc = stmt.step();
    }
    if (rc != SQLITE_DONE)
        handleFailure(rc, "delete");
}

void VoxleHistoryWorker::removeAll()
{
    if (!writable("delete all"))
        return;
    const int rc = exec("DELETE FROM dictation_history;");
    if (rc != SQLITE_OK)
        handleFailure(rc, "delete all");
}

void VoxleHistoryWorker::removeCreatedBefore(const QString &cutoff)
{
    if (!writable("retention"))
        return;
    int rc = SQLITE_OK;
    {
        SqliteStatement stmt(m_db, "DELETE FROM dictation_history WHERE created_at < ?;");
        stmt.bindText(1, cutoff);
        rc = stmt.step();
    }
    if (rc != SQLITE_DONE)
        handleFailure(rc, "retention");
}

void VoxleHistoryWorker::close()
{
    if (m_db) {
        sqlite3_close(m_db);
        m_db = nullptr;
    }
}

QString VoxleHistoryWorker::formatDate(const QDateTime &date)
{
    return date.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss'Z'"));
}

QDateTime VoxleHistoryWorker::parseDate(const QString &text)
{
    static const QRegularExpression form(
        QStringLiteral("^\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}(Z|[+-]\\d{2}:\\d{2})$"));
    if (!form.match(text).hasMatch())
        return {};
    return QDateTime::fromString(text, Qt::ISODate).toUTC();
}
