#include "base/Async.h"
#include "base/OwnedTask.h"
#include "platform/fake/ManualClock.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QTest>

namespace {
QCoro::Task<> sleeper(ManualClock &clock, CancelToken token, qint64 ms, QString name, QStringList &trace)
{
    const bool slept = co_await sleepFor(clock, ms, token);
    trace << QStringLiteral("%1:%2@%3")
                 .arg(name, slept ? QStringLiteral("slept") : QStringLiteral("cancelled"))
                 .arg(clock.elapsedMs());
}

QCoro::Task<> waiter(OneShot<int> shot, CancelToken token, QStringList &trace)
{
    const std::optional<int> v = co_await shot.wait(token);
    trace << (v ? QString::number(*v) : QStringLiteral("none"));
}

void drain()
{
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}
} // namespace

class TestAsync : public QObject
{
    Q_OBJECT
private slots:
    // A sleep cancelled (before or during) ends at once and its timer never fires. The controller's tests time
    // the sleeps that run their whole delay.
    void sleep_endsAtOnceWhenCancelled()
    {
        ManualClock clock;
        QStringList trace;
        CancelToken token;
        sleeper(clock, token, 30000, QStringLiteral("c"), trace);
        clock.advance(10);
        token.cancel();
        drain();
        QCOMPARE(trace, QStringList{QStringLiteral("c:cancelled@10")});
        QCOMPARE(clock.pendingTimers(), 0);
        sleeper(clock, token, 150, QStringLiteral("a"), trace); // already cancelled: does not suspend
        QCOMPARE(trace.last(), QStringLiteral("a:cancelled@10"));
        clock.advance(60000);
        token.cancel();
        drain();
        QCOMPARE(trace.size(), 2);
    }

    // A slot ends the task it holds when another takes it, when cleared and when it goes; never otherwise.
    void ownedTask_cancelsWhatItHoldsOnRenewClearAndDestruction()
    {
        ManualClock clock;
        QStringList trace;
        const auto sleeping = [&](const QString &name) {
            return [&, name](CancelToken token) { return sleeper(clock, token, 100, name, trace); };
        };
        {
            OwnedTask slot;
            slot.start(sleeping(QStringLiteral("a")));
            slot.start(sleeping(QStringLiteral("b")));       // replaces a
            slot.startShared(sleeping(QStringLiteral("c"))); // beside b
            drain();
            QCOMPARE(trace, QStringList{QStringLiteral("a:cancelled@0")});
            slot.cancel();
            drain();
            QCOMPARE(trace.size(), 3);
            QVERIFY(slot.isEmpty());

            const CancelToken kept = slot.renew();
            sleeper(clock, kept, 100, QStringLiteral("detached"), trace);
            QVERIFY(slot.holds(kept));
            QVERIFY(slot.detach());
            const CancelToken done = slot.renew();
            slot.finished(kept); // not the one held: changes nothing
            QVERIFY(slot.holds(done));
            slot.finished(done);
            QVERIFY(slot.isEmpty() && !done.isCancelled());
            slot.start(sleeping(QStringLiteral("last")));
        }
        drain();
        clock.advance(100);
        QCOMPARE(trace.mid(3),
                 (QStringList{QStringLiteral("last:cancelled@0"), QStringLiteral("detached:slept@100")}));
    }

    // The first of a value and a cancel wakes the waiter, exactly once; a value already there does not suspend.
    void oneShot_firstOfValueAndCancelWakesOnce()
    {
        QStringList trace;
        CancelToken cancelled;
        OneShot<int> late;
        waiter(late, cancelled, trace);
        QVERIFY(trace.isEmpty());
        cancelled.cancel();
        late.resolve(7);
        cancelled.cancel();
        CancelToken token;
        OneShot<int> shot;
        waiter(shot, token, trace);
        shot.resolve(1);
        shot.resolve(2);
        drain();
        token.cancel();
        drain();
        QCOMPARE(trace, (QStringList{QStringLiteral("none"), QStringLiteral("1")}));

        OneShot<int> ready;
        ready.resolve(5);
        waiter(ready, CancelToken(), trace);
        QCOMPARE(trace.last(), QStringLiteral("5"));
    }
};

QTEST_GUILESS_MAIN(TestAsync)
#include "tst_Async.moc"
