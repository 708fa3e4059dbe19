#pragma once

#include <QString>
#include <optional>
#include <utility>

// What an operation that can fail for the user gives back: its value, or the message to show in its place.
// The core's one error style; thrown errors stop at the layer that throws them (see net/Settle.h).
template <typename T> class Result
{
public:
    // Neither a value nor a message: only what a waiting helper starts from before the result arrives.
    Result() = default;
    Result(T value) : m_value(std::move(value)) {}
    static Result failure(QString message)
    {
        Result result;
        result.m_error = std::move(message);
        return result;
    }

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    const T &value() const { return *m_value; }
    T &value() { return *m_value; }
    const T &operator*() const { return *m_value; }
    const T *operator->() const { return &*m_value; }
    // The message for the user; empty on success.
    const QString &error() const { return m_error; }
    std::optional<T> toOptional() const { return m_value; }

private:
    std::optional<T> m_value;
    QString m_error;
};
