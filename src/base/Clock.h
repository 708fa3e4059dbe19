#pragma once

#include <QDateTime>
#include <functional>

// All time in the product goes through a Clock, so that the timing rules run in virtual time in tests.
// Timers fire on the thread that owns the clock (the main thread).
class Clock
{
public:
    using TimerId = quint64;

    virtual ~Clock() = default;

    // Wall-clock time (UTC).
    virtual QDateTime now() const = 0;
    // Monotonic milliseconds since an arbitrary origin.
    virtual qint64 elapsedMs() const = 0;
    // Runs fn once after delayMs. Returns an id for cancelTimer; never 0.
    virtual TimerId schedule(qint64 delayMs, std::function<void()> fn) = 0;
    // Ids are never reused: cancelling 0, or a timer that already fired or was cancelled, is harmless.
    virtual void cancelTimer(TimerId id) = 0;
};
