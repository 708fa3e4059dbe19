#pragma once

#include <QCoro/QCoroTask>
#include <QString>
#include <optional>

// The two windows the account flow opens; implemented by the user interface.
class AuthUi
{
public:
    virtual ~AuthUi() = default;

    // Shows the sign-in window, or brings the open one to the front.
    virtual void presentAuthWindow() = 0;
    // Runs the slider captcha: the slider token, or nothing when cancelled or when the captcha window was
    // already open (it is then brought to the front).
    virtual QCoro::Task<std::optional<QString>> runSliderCaptcha() = 0;
};
