#include "app/auth/VoxleAuthUi.h"

#include "app/auth/AuthWindow.h"
#include "app/auth/SliderCaptchaView.h"
#include "base/Async.h"
#include "core/VoxleAccount.h"

#include <QApplication>
#include <QScreen>
#include <QWidget>

VoxleAuthUi::VoxleAuthUi(Clock &clock, QObject *parent) : QObject(parent), m_clock(clock) {}

VoxleAuthUi::~VoxleAuthUi()
{
    m_lifetime.cancel();
    delete m_sliderWindow.data();
    delete m_authWindow.data();
}

void VoxleAuthUi::setAccount(VoxleAccount *account)
{
    if (m_account)
        disconnect(m_account, nullptr, this, nullptr);
    m_account = account;
    if (m_account) {
        connect(m_account, &VoxleAccount::isLoggedInChanged, this, [this]() {
            if (m_account && m_account->isLoggedIn())
                closeAuthWindow();
        });
    }
}

void VoxleAuthUi::setMainWindow(QWidget *window)
{
    m_mainWindow = window;
}

void VoxleAuthUi::presentAuthWindow()
{
    if (m_authWindow) {
        bringToFront(m_authWindow);
        return;
    }
    if (!m_account)
        return;
    auto *window = new AuthWindow(AuthWindow::Actions::fromAccount(*m_account), m_clock);
    window->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(QStringLiteral("登录 / 注册"));
    window->setFixedSize(authWidth, authHeight);
    place(window, QSize(authWidth, authHeight));
    connect(window, &AuthWindow::closed, this, [this, window]() {
        if (m_authWindow == window)
            m_authWindow.clear();
    });
    m_authWindow = window;
    bringToFront(window);
}

void VoxleAuthUi::closeAuthWindow()
{
    if (m_authWindow)
        m_authWindow->close();
    m_authWindow.clear();
}

QCoro::Task<std::optional<QString>> VoxleAuthUi::runSliderCaptcha()
{
    if (m_sliderWindow) {
        bringToFront(m_sliderWindow);
        co_return std::nullopt;
    }
    if (!m_account)
        co_return std::nullopt;

    // Resumed once, by whichever comes first: solved, cancel, or the window going away.
    const OneShot<std::optional<QString>> result;
    auto *window = new SliderCaptchaView(SliderCaptchaView::Backend::fromAccount(*m_account), m_clock);
    window->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(QStringLiteral("安全验证"));
    window->setFixedSize(sliderWidth, sliderHeight);
    place(window, QSize(sliderWidth, sliderHeight));
    connect(window, &SliderCaptchaView::solved, window, [result, window](const QString &token) {
        result.resolve(token);
        window->close();
    });
    connect(window, &SliderCaptchaView::cancelled, window, [result, window]() {
        result.resolve(std::nullopt);
        window->close();
    });
    connect(window, &SliderCaptchaView::closed, this, [this, result, window]() {
        result.resolve(std::nullopt);
        if (m_sliderWindow == window)
            m_sliderWindow.clear();
    });
    connect(window, &QObject::destroyed, window, [result]() { result.resolve(std::nullopt); });
    m_sliderWindow = window;
    bringToFront(window);

    const CancelToken lifetime = m_lifetime;
    const std::optional<std::optional<QString>> token = co_await result.wait(lifetime);
    co_return token ? *token : std::nullopt;
}

void VoxleAuthUi::place(QWidget *window, QSize content) const
{
    QWidget *anchor = QApplication::activeWindow();
    if (!anchor || anchor == window)
        anchor = m_mainWindow;
    if (anchor && anchor->isVisible()) {
        const QPoint centre = anchor->frameGeometry().center();
        window->move(centre - QPoint(content.width() / 2, content.height() / 2));
        return;
    }
    if (QScreen *screen = QGuiApplication::primaryScreen())
        window->move(screen->availableGeometry().center() - QPoint(content.width() / 2, content.height() / 2));
}

void VoxleAuthUi::bringToFront(QWidget *window)
{
    window->show();
    window->raise();
    window->activateWindow();
}
