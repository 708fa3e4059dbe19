#include "base/OwnedTask.h"

CancelToken OwnedTask::renew()
{
    cancel();
    m_token = CancelToken();
    return *m_token;
}

void OwnedTask::cancel()
{
    // Emptied first: a wake-up run by the cancel may start the next task in this slot.
    std::optional<CancelToken> token = std::exchange(m_token, std::nullopt);
    if (token)
        token->cancel();
}

std::optional<CancelToken> OwnedTask::detach()
{
    return std::exchange(m_token, std::nullopt);
}

void OwnedTask::finished(const CancelToken &token)
{
    if (holds(token))
        m_token.reset();
}
