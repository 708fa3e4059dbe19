#pragma once

#include "history/VoxleHistoryEntry.h"

#include <QObject>

#include <memory>

struct sqlite3;
class QLockFile;

// Owns the SQLite connection; lives on the store's own thread, and every SQLite call happens in it.
// No call reports an error to its caller: failures are logged and leave the database as it was, except that
// a damaged file is moved aside and a new one started.
class VoxleHistoryWorker : public QObject
{
    Q_OBJECT
public:
    // The schema this program writes, kept in PRAGMA user_version.
    static constexpr int kSchemaVersion = 1;

    // busyTimeoutMs: how long a statement waits for another connection's lock before it fails.
    VoxleHistoryWorker(QString dbPath, int busyTimeoutMs);
    ~VoxleHistoryWorker() override;

    // Claims the file for this instance when no other running instance has, then opens it.
    void initialize();
    struct Row {
        QString createdAt;
        QString kind;
        QString rawText;
        QString outputText;
    };
    // Rows submitted back to back are written in one transaction; when that fails, each row is tried alone.
    void insert(const QList<Row> &rows);
    QList<VoxleHistoryEntry> fetchRecent(const std::optional<QString> &kind, int limit);
    void remove(qint64 id);
    void removeAll();
    void removeCreatedBefore(const QString &cutoff);
    void close();

    // created_at text: ISO 8601 in UTC without fractions, e.g. 2026-12-05T17:52:21Z.
    static QString formatDate(const QDateTime &date);
    // Accepts the full internet date-time form (Z or a ±hh:mm offset, no fractions); invalid otherwise.
    static QDateTime parseDate(const QString &text);

private:
    bool open();
    int connect();
    int migrate();
    int exec(const char *sql);
    int insertBatch(const QList<Row> &rows);
    int insertRow(const Row &row);
    bool writable(const char *operation);
    // Logs a failed operation; a damaged file is closed and, by the instance that owns it, moved aside.
    // True when a fresh database now stands in its place.
    bool handleFailure(int rc, const char *operation);
    bool moveAside(int rc);
    void rollbackIfOpen();

    QString m_dbPath;
    int m_busyTimeoutMs;
    sqlite3 *m_db = nullptr;
    // Held while this instance runs; only its holder ever moves a damaged file aside.
    std::unique_ptr<QLockFile> m_instanceLock;
    bool m_ownsFile = false;
    // The version of a database written by a newer program: read as far as possible, never written.
    int m_newerVersion = 0;
};
