#pragma once

#include <QtGlobal>
#include <functional>
#include <map>
#include <memory>

// The handle of a cancellable task, shared by the owner (who cancels) and the task (which checks and waits).
// Cancelling sets the flag and runs the registered wake-ups once; a task that is running when cancelled
// notices at its next suspension point. Main-thread only.
class CancelToken
{
public:
    using Registration = quint64;

    CancelToken();

    bool isCancelled() const;
    void cancel();

    // fn runs once when the token is cancelled; if it already is, fn is not called and 0 is returned.
    Registration onCancel(std::function<void()> fn) const;
    void removeOnCancel(Registration id) const;

    bool operator==(const CancelToken &other) const { return m_state == other.m_state; }

private:
    struct State {
        bool cancelled = false;
        Registration nextId = 1;
        std::map<Registration, std::function<void()>> wakeUps;
    };
    std::shared_ptr<State> m_state;
};
