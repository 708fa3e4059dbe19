#include "history/VoxleHistoryStore.h"

#include "base/Async.h"
#include "base/Clock.h"
#include "history/VoxleHistoryWorker.h"

#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QPointer>

// Rows that an already submitted insert job will write; the job takes them all when it runs.
struct VoxleHistoryPendingInserts {
    QMutex mutex;
    QList<VoxleHistoryWorker::Row> rows;
    bool taken = false;
};

namespace {
void createPrivateDirectory(const QString &directory)
{
    QDir dir(directory);
    if (!dir.exists()) {
        const QString parent = QFileInfo(dir.absolutePath()).absolutePath();
        QDir().mkpath(parent);
        QDir().mkdir(dir.absolutePath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    // A failure here is not reported: the open that follows fails and the store behaves as empty.
}
} // namespace

VoxleHistoryStore::VoxleHistoryStore(const QString &directory, Clock &clock, QObject *parent)
    : VoxleHistoryStore(directory, clock, kBusyTimeoutMs, parent)
{
}

VoxleHistoryStore::VoxleHistoryStore(const QString &directory, Clock &clock, int busyTimeoutMs, QObject *parent)
    : QObject(parent), m_clock(clock), m_dbPath(QDir(directory).absoluteFilePath(QStringLiteral("history.db")))
{
    createPrivateDirectory(directory);
    m_thread.setObjectName(QStringLiteral("VoxleHistoryStore"));
    m_worker = new VoxleHistoryWorker(m_dbPath, busyTimeoutMs);
    m_worker->moveToThread(&m_thread);
    m_thread.start();
    QMetaObject::invokeMethod(m_worker, &VoxleHistoryWorker::initialize, Qt::BlockingQueuedConnection);
}

VoxleHistoryStore::~VoxleHistoryStore()
{
    // Queued behind every submitted job, so pending inserts still reach the file.
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker] { delete worker; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

void VoxleHistoryStore::insert(VoxleHistoryEntry::Kind kind, const QString &rawText, const QString &outputText,
                               const QDateTime &date)
{
    const QString raw = rawText.trimmed();
    const QString output = outputText.trimmed();
    if (output.isEmpty())
        return;
    VoxleHistoryWorker::Row row{VoxleHistoryWorker::formatDate(date), rawValue(kind), raw, output};
    if (m_openBatch) {
        QMutexLocker lock(&m_openBatch->mutex);
        if (!m_openBatch->taken) {
            m_openBatch->rows.append(std::move(row));
            return;
        }
    }
    m_openBatch = std::make_shared<VoxleHistoryPendingInserts>();
    m_openBatch->rows.append(std::move(row));
    QMetaObject::invokeMethod(
        m_worker,
        [worker = m_worker, batch = m_openBatch] {
            QList<VoxleHistoryWorker::Row> rows;
            {
                QMutexLocker lock(&batch->mutex);
                batch->taken = true;
                rows.swap(batch->rows);
            }
            worker->insert(rows);
        },
        Qt::QueuedConnection);
}

template <typename T, typename Fn> QCoro::Task<T> VoxleHistoryStore::runOnWorker(Fn work)
{
    m_openBatch.reset(); // later inserts must run after this job
    OneShot<T> shot;
    QMetaObject::invokeMethod(
        m_worker,
        [worker = m_worker, work = std::move(work), shot, self = QPointer<VoxleHistoryStore>(this)]() mutable {
            T result = work(*worker);
            if (!self)
                return;
            QMetaObject::invokeMethod(
                self.data(), [shot, result = std::move(result)]() mutable { shot.resolve(std::move(result)); },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    // Nothing cancels these waits: the worker always answers while the store lives.
    const CancelToken never;
    std::optional<T> result = co_await shot.wait(never);
    co_return std::move(result).value_or(T{});
}

QCoro::Task<QList<VoxleHistoryEntry>> VoxleHistoryStore::fetchRecent(std::optional<VoxleHistoryEntry::Kind> kind,
                                                                     int limit)
{
    std::optional<QString> kindText;
    if (kind)
        kindText = rawValue(*kind);
    auto work = [kindText, limit](VoxleHistoryWorker &worker) { return worker.fetchRecent(kindText, limit); };
    co_return co_await runOnWorker<QList<VoxleHistoryEntry>>(std::move(work));
}

QCoro::Task<> VoxleHistoryStore::remove(qint64 id)
{
    auto work = [id](VoxleHistoryWorker &worker) {
        worker.remove(id);
        return true;
    };
    co_await runOnWorker<bool>(std::move(work));
}

QCoro::Task<> VoxleHistoryStore::deleteAll()
{
    auto work = [](VoxleHistoryWorker &worker) {
        worker.removeAll();
        return true;
    };
    co_await runOnWorker<bool>(std::move(work));
}

QCoro::Task<> VoxleHistoryStore::applyRetention(VoxleHistoryRetention retention)
{
    const std::optional<QDateTime> cutoff = historyRetentionCutoff(retention, m_clock.now());
    if (!cutoff)
        co_return;
    const QString text = VoxleHistoryWorker::formatDate(*cutoff);
    auto work = [text](VoxleHistoryWorker &worker) {
        worker.removeCreatedBefore(text);
        return true;
    };
    co_await runOnWorker<bool>(std::move(work));
}
