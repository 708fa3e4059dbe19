#pragma once

#include "base/CancelToken.h"

#include <optional>
#include <utility>

// The owner's side of one cancellable coroutine task: it holds the running task's cancel token and cancels it
// when a new task takes the slot, when the slot is cleared and when the owner goes away. A task started from
// an owned slot checks its token after every suspension before it touches its owner, so an owner may be
// destroyed while its tasks are suspended. Main thread only.
class OwnedTask
{
public:
    OwnedTask() = default;
    // Holds a task already running.
    explicit OwnedTask(CancelToken token) : m_token(std::move(token)) {}
    ~OwnedTask() { cancel(); }
    OwnedTask(const OwnedTask &) = delete;
    OwnedTask &operator=(const OwnedTask &) = delete;

    // Cancels the task held so far and returns the token of the one that takes the slot.
    CancelToken renew();
    // Starts `start(token)` as the task of this slot, cancelling the one before.
    template<typename Start>
    void start(Start &&start)
    {
        [[maybe_unused]] auto task = std::forward<Start>(start)(renew());
    }
    // Starts `start(token)` beside the tasks the slot already holds, with their token: they end together.
    template<typename Start>
    void startShared(Start &&start)
    {
        if (!m_token)
            m_token = CancelToken();
        [[maybe_unused]] auto task = std::forward<Start>(start)(*m_token);
    }
    // Cancels the task held, if any, and empties the slot.
    void cancel();
    // Empties the slot without cancelling: the task runs on, unowned. Returns its token, if the slot held one.
    std::optional<CancelToken> detach();
    // Called by a task that ends: empties the slot when it still holds that task.
    void finished(const CancelToken &token);

    bool isEmpty() const { return !m_token.has_value(); }
    bool holds(const CancelToken &token) const { return m_token && *m_token == token; }

private:
    std::optional<CancelToken> m_token;
};
