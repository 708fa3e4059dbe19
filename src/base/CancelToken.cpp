#include "base/CancelToken.h"

CancelToken::CancelToken() : m_state(std::make_shared<State>()) {}

bool CancelToken::isCancelled() const
{
    return m_state->cancelled;
}

void CancelToken::cancel()
{
    if (m_state->cancelled)
        return;
    m_state->cancelled = true;
    auto wakeUps = std::move(m_state->wakeUps);
    m_state->wakeUps.clear();
    for (auto &[id, fn] : wakeUps)
        fn();
}

CancelToken::Registration CancelToken::onCancel(std::function<void()> fn) const
{
    if (m_state->cancelled)
        return 0;
    const Registration id = m_state->nextId++;
    m_state->wakeUps.emplace(id, std::move(fn));
    return id;
}

void CancelToken::removeOnCancel(Registration id) const
{
    m_state->wakeUps.erase(id);
}
