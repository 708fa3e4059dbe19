#include "platform/fake/ManualClock.h"

ManualClock::ManualClock(QDateTime start) : m_start(std::move(start)) {}

QDateTime ManualClock::now() const
{
    return m_start.addMSecs(m_elapsed);
}

qint64 ManualClock::elapsedMs() const
{
    return m_elapsed;
}

Clock::TimerId ManualClock::schedule(qint64 delayMs, std::function<void()> fn)
{
    const TimerId id = m_nextId++;
    m_timers.emplace(std::make_pair(m_elapsed + std::max<qint64>(0, delayMs), id), std::move(fn));
    return id;
}

void ManualClock::cancelTimer(TimerId id)
{
    for (auto it = m_timers.begin(); it != m_timers.end(); ++it) {
        if (it->first.second == id) {
            m_timers.erase(it);
            return;
        }
    }
}

void ManualClock::advance(qint64 ms)
{
    const qint64 target = m_elapsed + std::max<qint64>(0, ms);
    while (!m_timers.empty() && m_timers.begin()->first.first <= target) {
        auto node = m_timers.extract(m_timers.begin());
        m_elapsed = node.key().first;
        node.mapped()();
    }
    m_elapsed = target;
}

void ManualClock::setNow(const QDateTime &utc)
{
    m_start = utc.addMSecs(-m_elapsed);
}

qint64 ManualClock::nextDue() const
{
    return m_timers.empty() ? -1 : m_timers.begin()->first.first;
}
