#include "platform/fake/FakeMicrophoneAccess.h"

QCoro::Task<bool> FakeMicrophoneAccess::requestAccess()
{
    ++requestCount;
    if (currentStatus == Status::notDetermined)
        currentStatus = grantOnRequest ? Status::authorized : Status::denied;
    co_return currentStatus == Status::authorized;
}
