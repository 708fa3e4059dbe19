#pragma once

#include "platform/MicrophoneAccess.h"

// Microphone authorisation set by the test; requestAccess() records the request and answers `grantOnRequest`
// (moving a not-determined status to authorized or denied, as the system does).
class FakeMicrophoneAccess final : public MicrophoneAccess
{
public:
    Status currentStatus = Status::authorized;
    bool grantOnRequest = true;
    int requestCount = 0;

    Status status() const override { return currentStatus; }
    QCoro::Task<bool> requestAccess() override;
};
