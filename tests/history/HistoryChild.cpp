// A second program using a history folder, driven by tst_VoxleHistoryStore:
//   history_child <dir> insert   inserts rows "row <n>" without end, printing "committed <n>" whenever every
//                                row up to n is known to be in the file; the test kills it mid-stream.
//   history_child <dir> hold     opens the store, prints "ready" and keeps it open until stdin closes.
#include "history/VoxleHistoryStore.h"
#include "platform/fake/ManualClock.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QFile>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3)
        return 2;
    ManualClock clock;
    VoxleHistoryStore store(args[1], clock);
    if (args[2] == QStringLiteral("hold")) {
        std::printf("ready\n");
        std::fflush(stdout);
        QFile in;
        if (in.open(stdin, QIODevice::ReadOnly))
            in.readAll();
        return 0;
    }
    for (int n = 0;; ++n) {
        store.insert(VoxleHistoryEntry::Kind::record, QString(), QStringLiteral("row %1").arg(n), clock.now());
        if (n % 25 == 24) {
            // A fetch runs after every insert submitted before it.
            QCoro::waitFor(store.fetchRecent(std::nullopt, 1));
            std::printf("committed %d\n", n);
            std::fflush(stdout);
        }
    }
}
