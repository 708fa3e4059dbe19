#include "base/Async.h"

#include <QCoreApplication>
#include <QMetaObject>

void resumeLater(std::coroutine_handle<> handle)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [handle]() { handle.resume(); }, Qt::QueuedConnection);
}

SleepAwaiter::SleepAwaiter(Clock &clock, qint64 delayMs, CancelToken token)
    : m_clock(clock), m_delayMs(delayMs), m_token(std::move(token)), m_state(std::make_shared<State>())
{
}

void SleepAwaiter::await_suspend(std::coroutine_handle<> handle)
{
    auto s = m_state;
    auto token = m_token;
    Clock *clock = &m_clock;
    s->timer = clock->schedule(m_delayMs, [s, token, handle]() {
        if (s->woken)
            return;
        s->woken = true;
        token.removeOnCancel(s->registration);
        handle.resume();
    });
    s->registration = token.onCancel([s, clock, handle]() {
        if (s->woken)
            return;
        s->woken = true;
        s->cancelled = true;
        clock->cancelTimer(s->timer);
        resumeLater(handle);
    });
}

bool SleepAwaiter::await_resume() const noexcept
{
    return m_state->woken && !m_state->cancelled;
}
