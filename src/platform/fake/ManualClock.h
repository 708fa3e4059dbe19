#pragma once

#include "base/Clock.h"

#include <map>
#include <utility>

// Virtual time for tests: nothing happens until advance() moves the clock; timers then fire in due order,
// each seeing now() at its own due time. Timers scheduled while advancing fire in the same advance when due.
class ManualClock final : public Clock
{
public:
    explicit ManualClock(QDateTime start = QDateTime(QDate(2026, 12, 6), QTime(12, 0), Qt::UTC));

    QDateTime now() const override;
    qint64 elapsedMs() const override;
    TimerId schedule(qint64 delayMs, std::function<void()> fn) override;
    void cancelTimer(TimerId id) override;

    void advance(qint64 ms);
    void setNow(const QDateTime &utc);
    int pendingTimers() const { return static_cast<int>(m_timers.size()); }
    // Due time (elapsedMs) of the earliest timer, or -1.
    qint64 nextDue() const;

private:
    QDateTime m_start;
    qint64 m_elapsed = 0;
    TimerId m_nextId = 1;
    // (due, id) keeps same-due timers in scheduling order.
    std::map<std::pair<qint64, TimerId>, std::function<void()>> m_timers;
};
