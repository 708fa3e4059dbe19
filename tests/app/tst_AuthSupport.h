#pragma once

#include "base/Async.h"
#include "core/VoxleAccount.h"

#include <QCoreApplication>
#include <QList>

// Backend answers a test hands out one by one: every call waits on its own OneShot until the test resolves it.
template <typename T> QCoro::Task<T> awaitTestReply(OneShot<T> reply, CancelToken cancel)
{
    const std::optional<T> value = co_await reply.wait(cancel);
    if (!value) {
        T cancelled{};
        cancelled.message = QStringLiteral("cancelled");
        co_return cancelled;
    }
    co_return *value;
}

inline QCoro::Task<std::optional<QString>> awaitTestMessage(OneShot<std::optional<QString>> reply, CancelToken cancel)
{
    const std::optional<std::optional<QString>> value = co_await reply.wait(cancel);
    co_return value ? *value : std::nullopt;
}

inline void drainEvents()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}
