#include "BenchRegistry.h"

#include "base/SystemClock.h"
#include "history/VoxleHistoryStore.h"

#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>

namespace {
// Inserts through the store's queue, timed until a fetch queued behind them has answered.
double insertRowsPerSecond(VoxleHistoryStore &store, Clock &clock, int rows, int offset)
{
    const QDateTime now = clock.now();
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < rows; ++i) {
        const auto kind = static_cast<VoxleHistoryEntry::Kind>((offset + i) % 3);
        store.insert(kind, QStringLiteral("识别出的文字 %1").arg(offset + i),
                     QStringLiteral("插入的文字，第 %1 条，带一点长度的句子。").arg(offset + i), now);
    }
    QCoro::waitFor(store.fetchRecent(std::nullopt, 1));
    return rows / (timer.nsecsElapsed() / 1e9);
}

int benchHistory(const QStringList &args)
{
    const int insertRows = args.value(0, QStringLiteral("20000")).toInt();
    const int totalRows = 100000;
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    SystemClock clock;
    VoxleHistoryStore store(dir.path() + QStringLiteral("/Voxle"), clock);
    QTextStream out(stdout);

    const double rate = insertRowsPerSecond(store, clock, insertRows, 0);
    insertRowsPerSecond(store, clock, totalRows - insertRows, insertRows);

    for (int i = 0; i < 5; ++i)
        QCoro::waitFor(store.fetchRecent(std::nullopt, 400));
    std::vector<double> samples;
    qsizetype fetched = 0;
    for (int i = 0; i < 101; ++i) {
        QElapsedTimer timer;
        timer.start();
        fetched = QCoro::waitFor(store.fetchRecent(std::nullopt, 400)).size();
        samples.push_back(timer.nsecsElapsed() / 1e6);
    }
    if (fetched != 400) {
        QTextStream(stderr) << "history: fetched " << fetched << " rows instead of 400\n";
        return 1;
    }
    out << "history_insert_rows_per_s=" << qRound64(rate) << '\n';
    out << "history_fetch400_of_100k_ms=" << QString::number(benchMedian(samples), 'f', 3) << '\n';
    return 0;
}

BenchRegistrar reg("history", benchHistory);
} // namespace
