#pragma once

#include "base/Clock.h"

#include <QElapsedTimer>
#include <QObject>
#include <map>

// Production clock on Qt timers.
class SystemClock final : public QObject, public Clock
{
public:
    explicit SystemClock(QObject *parent = nullptr);
    ~SystemClock() override;

    QDateTime now() const override;
    qint64 elapsedMs() const override;
    TimerId schedule(qint64 delayMs, std::function<void()> fn) override;
    void cancelTimer(TimerId id) override;

private:
    QElapsedTimer m_elapsed;
    TimerId m_nextId = 1;
    std::map<TimerId, QObject *> m_timers;
};
