#include "history/VoxleHistoryWorker.h"

#include "history/SqliteStatement.h"

#include <QFile>
#include <QRegularExpression>

#include <sqlite3.h>

VoxleHistoryWorker::VoxleHistoryWorker(QString dbPath) : m_dbPath(std::move(dbPath)) {}

VoxleHistoryWorker::~VoxleHistoryWorker()
{
    close();
}

bool VoxleHistoryWorker::open()
{
    if (m_db)
        return true;
    // Private words: create the file readable by its owner only before SQLite does (its journal files then
    // take the same mode).
    QFile file(m_dbPath);
    if (!file.exists()) {
        if (file.open(QIODevice::WriteOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            file.close();
    }
    sqlite3 *db = nullptr;
    const QByteArray path = QFile::encodeName(m_dbPath);
    if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    m_db = db;
    exec("PRAGMA journal_mode=WAL;");
    exec("PRAGMA synchronous=NORMAL;");
    return true;
}

void VoxleHistoryWorker::exec(const char *sql)
{
    sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
}

void VoxleHistoryWorker::initialize()
{
    if (!open())
        return;
    exec("CREATE TABLE IF NOT EXISTS dictation_history(\n"
         "  id INTEGER PRIMARY KEY AUTOINCREMENT,\n"
         "  created_at TEXT NOT NULL,\n"
         "  kind TEXT NOT NULL,\n"
         "  raw_text TEXT NOT NULL,\n"
         "  output_text TEXT NOT NULL\n"
         ");");
    exec("CREATE INDEX IF NOT EXISTS idx_dictation_history_created_at ON dictation_history(created_at);");
    exec("CREATE INDEX IF NOT EXISTS idx_dictation_history_kind ON dictation_history(kind);");
}

void VoxleHistoryWorker::insert(const QList<Row> &rows)
{
    if (rows.isEmpty() || !open())
        return;
    // One commit for the batch keeps a burst of inserts cheap; a failed BEGIN just means one commit per row.
    const bool inTransaction = rows.size() > 1 && sqlite3_exec(m_db, "BEGIN;", nullptr, nullptr, nullptr) == SQLITE_OK;
    SqliteStatement stmt(m_db, "INSERT INTO dictation_history(created_at, kind, raw_text, output_text) "
                               "VALUES(?, ?, ?, ?);");
    for (const Row &row : rows) {
        stmt.reset();
        stmt.bindText(1, row.createdAt);
        stmt.bindText(2, row.kind);
        stmt.bindText(3, row.rawText);
        stmt.bindText(4, row.outputText);
        stmt.step();
    }
    if (inTransaction && sqlite3_exec(m_db, "COMMIT;", nullptr, nullptr, nullptr) != SQLITE_OK)
        exec("ROLLBACK;");
}

QList<VoxleHistoryEntry> VoxleHistoryWorker::fetchRecent(const std::optional<QString> &kind, int limit)
{
    QList<VoxleHistoryEntry> entries;
    if (!open())
        return entries;
    SqliteStatement stmt(m_db, kind ? "SELECT id, created_at, kind, raw_text, output_text FROM dictation_history "
                                      "WHERE kind = ? ORDER BY id DESC LIMIT ?;"
                                    : "SELECT id, created_at, kind, raw_text, output_text FROM dictation_history "
                                      "ORDER BY id DESC LIMIT ?;");
    if (!stmt.isValid())
        return entries;
    if (kind) {
        stmt.bindText(1, *kind);
        stmt.bindInt(2, limit);
    } else {
        stmt.bindInt(1, limit);
    }
    entries.reserve(qBound(0, limit, 1000));
    while (stmt.step() == SQLITE_ROW) {
        const QDateTime createdAt = parseDate(stmt.columnText(1));
        const std::optional<VoxleHistoryEntry::Kind> rowKind = parseHistoryKind(stmt.columnText(2));
        if (!createdAt.isValid() || !rowKind)
            continue; // written by something else: left in the table, never shown
        entries.append({stmt.columnInt64(0), createdAt, *rowKind, stmt.columnText(3), stmt.columnText(4)});
    }
    return entries;
}

void VoxleHistoryWorker::remove(qint64 id)
{
    if (!open())
        return;
    SqliteStatement stmt(m_db, "DELETE FROM dictation_history WHERE id = ?;");
    stmt.bindInt64(1, id);
    stmt.step();
}

void VoxleHistoryWorker::removeAll()
{
    if (!open())
        return;
    exec("DELETE FROM dictation_history;");
}

void VoxleHistoryWorker::removeCreatedBefore(const QString &cutoff)
{
    if (!open())
        return;
    SqliteStatement stmt(m_db, "DELETE FROM dictation_history WHERE created_at < ?;");
    stmt.bindText(1, cutoff);
    stmt.step();
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
