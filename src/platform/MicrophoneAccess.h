#pragma once

#include <QCoro/QCoroTask>

// Microphone authorisation of this process.
class MicrophoneAccess
{
public:
    enum class Status { notDetermined, restricted, denied, authorized };

    virtual ~MicrophoneAccess() = default;
    virtual Status status() const = 0;
    // Asks the user when the status is not determined; true when access was granted.
    virtual QCoro::Task<bool> requestAccess() = 0;
};
