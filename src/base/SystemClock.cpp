#include "base/SystemClock.h"

#include <QTimer>

SystemClock::SystemClock(QObject *parent) : QObject(parent)
{
    m_elapsed.start();
}

SystemClock::~SystemClock() = default;

QDateTime SystemClock::now() const
{
    return QDateTime::currentDateTimeUtc();
}

qint64 SystemClock::elapsedMs() const
{
    return m_elapsed.elapsed();
}

Clock::TimerId SystemClock::schedule(qint64 delayMs, std::function<void()> fn)
{
    const TimerId id = m_nextId++;
    auto *timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this, id, timer, fn = std::move(fn)]() {
        m_timers.erase(id);
        timer->deleteLater();
        fn();
    });
    m_timers[id] = timer;
    timer->start(static_cast<int>(std::clamp<qint64>(delayMs, 0, INT_MAX)));
    return id;
}

void SystemClock::cancelTimer(TimerId id)
{
    auto it = m_timers.find(id);
    if (it == m_timers.end())
        return;
    it->second->deleteLater();
    static_cast<QTimer *>(it->second)->stop();
    m_timers.erase(it);
}
