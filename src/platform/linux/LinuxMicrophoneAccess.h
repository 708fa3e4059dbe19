#pragma once

#include "platform/MicrophoneAccess.h"

// Linux has no per-application microphone permission: access is always authorised, and a missing or busy
// device shows up when capture starts instead.
class LinuxMicrophoneAccess final : public MicrophoneAccess
{
public:
    Status status() const override { return Status::authorized; }
    QCoro::Task<bool> requestAccess() override;
};
