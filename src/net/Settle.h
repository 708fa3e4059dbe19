#pragma once

#include "base/Result.h"
#include "net/VoxleServerApi.h"

#include <QCoro/QCoroTask>

// The edge between the client's thrown errors and the core's results: a call's value, or the text
// VoxleServerApi::userMessage gives its failure (the client throws only std::exception types).
template <typename T> QCoro::Task<Result<T>> settle(QCoro::Task<T> call)
{
    try {
        co_return Result<T>(co_await std::move(call));
    } catch (const std::exception &error) {
        co_return Result<T>::failure(VoxleServerApi::userMessage(error));
    }
}
