#pragma once

#include "base/CancelToken.h"
#include "base/Clock.h"

#include <coroutine>
#include <memory>
#include <optional>

// Resumes a suspended coroutine on the next turn of the main event loop, so that whoever woke it
// (a cancel, a reply) finishes its own step first, as on a single main actor.
void resumeLater(std::coroutine_handle<> handle);

// Awaitable sleep on a Clock: `bool slept = co_await sleepFor(clock, ms, token);` is true when the whole
// delay elapsed and false when the token was cancelled (at once, and then the timer never fires).
class SleepAwaiter
{
public:
    SleepAwaiter(Clock &clock, qint64 delayMs, CancelToken token);

    bool await_ready() const noexcept { return m_token.isCancelled(); }
    void await_suspend(std::coroutine_handle<> handle);
    bool await_resume() const noexcept;

private:
    struct State {
        bool woken = false;
        bool cancelled = false;
        Clock::TimerId timer = 0;
        CancelToken::Registration registration = 0;
    };
    Clock &m_clock;
    qint64 m_delayMs;
    CancelToken m_token;
    std::shared_ptr<State> m_state;
};

inline SleepAwaiter sleepFor(Clock &clock, qint64 delayMs, const CancelToken &token)
{
    return SleepAwaiter(clock, delayMs, token);
}

// A value delivered once, awaited by one coroutine with a cancel token:
// `std::optional<T> v = co_await shot.wait(token);` is empty when the token was cancelled first.
template<typename T>
class OneShot
{
    struct State {
        std::optional<T> value;
        std::coroutine_handle<> waiter;
        bool woken = false;
        bool cancelled = false;
        CancelToken token;
        CancelToken::Registration registration = 0;
    };

public:
    OneShot() : m_state(std::make_shared<State>()) {}

    bool isResolved() const { return m_state->value.has_value(); }

    // The first value wins; later ones are ignored.
    void resolve(T value) const
    {
        auto s = m_state;
        if (s->value)
            return;
        s->value = std::move(value);
        if (s->waiter && !s->woken) {
            s->woken = true;
            s->token.removeOnCancel(s->registration);
            resumeLater(s->waiter);
        }
    }

    class Awaiter
    {
    public:
        Awaiter(std::shared_ptr<State> state, CancelToken token) : m_state(std::move(state)), m_token(std::move(token)) {}
        bool await_ready() const noexcept { return m_token.isCancelled() || m_state->value.has_value(); }
        void await_suspend(std::coroutine_handle<> handle)
        {
            auto s = m_state;
            s->waiter = handle;
            s->woken = false;
            s->cancelled = false;
            s->token = m_token;
            s->registration = m_token.onCancel([s]() {
                if (s->woken)
                    return;
                s->woken = true;
                s->cancelled = true;
                resumeLater(s->waiter);
            });
        }
        std::optional<T> await_resume() const
        {
            if (m_token.isCancelled() && (m_state->cancelled || !m_state->value))
                return std::nullopt;
            return m_state->value;
        }

    private:
        std::shared_ptr<State> m_state;
        CancelToken m_token;
    };

    Awaiter wait(const CancelToken &token) const { return Awaiter(m_state, token); }

private:
    std::shared_ptr<State> m_state;
};
