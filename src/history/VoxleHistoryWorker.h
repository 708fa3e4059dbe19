#pragma once

#include "history/VoxleHistoryEntry.h"

#include <QObject>

struct sqlite3;

// Owns the SQLite connection; lives on the store's own thread, and every SQLite call happens in it.
// No call reports an error: a failure leaves the database as it was.
class VoxleHistoryWorker : public QObject
{
    Q_OBJECT
public:
    explicit VoxleHistoryWorker(QString dbPath);
    ~VoxleHistoryWorker() override;

    // First open and the schema; the schema is only ever created here.
    void initialize();
    struct Row {
        QString createdAt;
        QString kind;
        QString rawText;
        QString outputText;
    };
    // Rows submitted back to back are written in one transaction; each is still its own INSERT.
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
    void exec(const char *sql);

    QString m_dbPath;
    sqlite3 *m_db = nullptr;
};
