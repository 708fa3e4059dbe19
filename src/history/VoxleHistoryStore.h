#pragma once

#include "history/VoxleHistoryEntry.h"
#include "history/VoxleHistoryRetention.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <QThread>

#include <memory>

class Clock;
class VoxleHistoryWorker;
struct VoxleHistoryPendingInserts;

// The local history database <directory>/history.db. Every SQLite call runs on the store's own thread,
// in submission order, so an insert made before a fetch is visible to it. Nothing is reported to the caller:
// failures are logged (without the texts) and leave the database as it was, and a fetch yields fewer rows or
// none. A damaged file is moved aside (history.db.corrupt-<time>) and a new one started, by the first running
// instance only; a file written by a newer version of the program is read but never changed.
// Lives on the thread that creates it (the main thread); results are delivered there.
class VoxleHistoryStore : public QObject
{
    Q_OBJECT
public:
    // How long a statement waits while another program holds the file locked.
    static constexpr int kBusyTimeoutMs = 5000;

    // Creates the directory (owner only), then opens the database and brings its schema up to date before
    // returning. The app passes <GenericDataLocation>/Voxle; clock.now() is "now" for retention cutoffs.
    VoxleHistoryStore(const QString &directory, Clock &clock, QObject *parent = nullptr);
    VoxleHistoryStore(const QString &directory, Clock &clock, int busyTimeoutMs, QObject *parent = nullptr);
    // Runs everything already submitted, then closes the database.
    ~VoxleHistoryStore() override;

    QString databasePath() const { return m_dbPath; }

    // Stores one row (texts trimmed) unless the output is blank; returns at once.
    void insert(VoxleHistoryEntry::Kind kind, const QString &rawText, const QString &outputText, const QDateTime &date);
    // Newest first (by id), at most limit rows, only the given kind when one is given.
    QCoro::Task<QList<VoxleHistoryEntry>> fetchRecent(std::optional<VoxleHistoryEntry::Kind> kind, int limit);
    // Deleting a missing id deletes nothing.
    QCoro::Task<> remove(qint64 id);
    QCoro::Task<> deleteAll();
    // Deletes the rows created before the retention's cutoff (nothing for forever).
    QCoro::Task<> applyRetention(VoxleHistoryRetention retention);

private:
    template <typename T, typename Fn> QCoro::Task<T> runOnWorker(Fn work);

    Clock &m_clock;
    QString m_dbPath;
    QThread m_thread;
    VoxleHistoryWorker *m_worker = nullptr; // owned; destroyed on its thread
    // Inserts not yet taken by the worker, joined by further inserts until any other job is submitted.
    std::shared_ptr<VoxleHistoryPendingInserts> m_openBatch;
};
