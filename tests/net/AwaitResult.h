#pragma once

#include "net/VoxleServerApi.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <functional>
#include <optional>

// A backend call's outcome as a value, so that tests can wait for throwing coroutines.
template <typename T> struct AwaitResult {
    std::optional<T> value;
    std::optional<QString> message;                       // userMessage of the failure
    std::optional<QNetworkReply::NetworkError> transport; // set for transport failures
};

template <typename T> QCoro::Task<AwaitResult<T>> capture(QCoro::Task<T> task)
{
    AwaitResult<T> result;
    try {
        result.value = co_await task;
    } catch (const VoxleTransportError &e) {
        result.transport = e.code;
        result.message = VoxleServerApi::userMessage(e);
    } catch (const std::exception &e) {
        result.message = VoxleServerApi::userMessage(e);
    }
    co_return result;
}

template <typename T> AwaitResult<T> awaitResult(QCoro::Task<T> task)
{
    return QCoro::waitFor(capture(std::move(task)));
}

// Runs the event loop until `condition` holds or `ms` pass; true when it holds.
inline bool spinUntil(const std::function<bool()> &condition, int ms = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}
