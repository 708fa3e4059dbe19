// A second program holding a history folder, driven by tst_VoxleHistoryStore:
//   history_child <dir>   opens the store, prints "ready" and keeps it open until stdin closes.
#include "history/VoxleHistoryStore.h"
#include "platform/fake/ManualClock.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ManualClock clock;
    VoxleHistoryStore store(app.arguments().value(1), clock);
    std::printf("ready\n");
    std::fflush(stdout);
    QFile in;
    if (in.open(stdin, QIODevice::ReadOnly))
        in.readAll();
    return 0;
}
