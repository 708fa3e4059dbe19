#pragma once

#include "base/CancelToken.h"
#include "core/AuthUi.h"

#include <QObject>
#include <QPointer>

class AuthWindow;
class Clock;
class QWidget;
class SliderCaptchaView;
class VoxleAccount;

// The account flow's two windows: the sign-in window ("登录 / 注册", 600 × 520) and the slider captcha
// ("安全验证", 420 × 360). At most one of each is open; asking again brings the open one to the front.
class VoxleAuthUi : public QObject, public AuthUi
{
    Q_OBJECT
public:
    explicit VoxleAuthUi(Clock &clock, QObject *parent = nullptr);
    ~VoxleAuthUi() override;

    // The account the windows talk to (it is built with this object as its AuthUi, hence set afterwards).
    // The sign-in window closes itself once the account is signed in.
    void setAccount(VoxleAccount *account);
    // Where new windows are centred when no window of the application is active.
    void setMainWindow(QWidget *window);

    void presentAuthWindow() override;
    QCoro::Task<std::optional<QString>> runSliderCaptcha() override;
    void closeAuthWindow();

    SliderCaptchaView *sliderWindow() const { return m_sliderWindow; }

    static constexpr int authWidth = 600;
    static constexpr int authHeight = 520;
    static constexpr int sliderWidth = 420;
    static constexpr int sliderHeight = 360;

private:
    void place(QWidget *window, QSize content) const;
    static void bringToFront(QWidget *window);

    Clock &m_clock;
    VoxleAccount *m_account = nullptr;
    QPointer<QWidget> m_mainWindow;
    QPointer<AuthWindow> m_authWindow;
    QPointer<SliderCaptchaView> m_sliderWindow;
    // Ends a captcha wait still pending when this object goes away.
    CancelToken m_lifetime;
};
