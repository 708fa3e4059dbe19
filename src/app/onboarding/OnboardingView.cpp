#include "app/onboarding/OnboardingView.h"

#include "app/widgets/VoxleStyle.h"
#include "core/VoxleAppState.h"
#include "platform/SettingsOpener.h"

#include <QClipboard>
#include <QCoro/QCoroTask>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
const QString kManualAdd =
    QStringLiteral("请在弹出的系统设置中开启开关。如果应用未在列表中，请点击系统设置列表下方的「+」号，"
                   "在应用程序中选择「言川 Voxle」手动添加。");
constexpr int kMainButtonWidth = 200;
constexpr int kWideButtonWidth = 240;

// Resumes on the view only while it still exists.
QCoro::Task<> requestMicrophoneFor(QPointer<OnboardingView> view, VoxleAppState *state,
                                   std::function<void(OnboardingView *)> granted)
{
    const bool ok = co_await state->requestMicrophoneAccess();
    if (view && ok)
        granted(view.data());
}
} // namespace

OnboardingView::OnboardingView(VoxleAppState &state, SettingsOpener &settings, Clock &clock,
                               std::function<void()> onComplete, QWidget *parent)
    : OnboardingView(state, settings, clock, std::move(onComplete), Desktop{}, parent)
{
}

OnboardingView::OnboardingView(VoxleAppState &state, SettingsOpener &settings, Clock &clock,
                               std::function<void()> onComplete, Desktop desktop, QWidget *parent)
    : QWidget(parent), m_state(state), m_settings(settings), m_clock(clock), m_onComplete(std::move(onComplete)),
      m_desktop(desktop), m_icon(new QLabel(this)), m_title(new QLabel(this)), m_explanation(new QLabel(this)),
      m_badge(new QWidget(this)), m_buttons(new QVBoxLayout)
{
    setObjectName(QStringLiteral("voxleOnboarding"));
    setAttribute(Qt::WA_StyledBackground);
    setAutoFillBackground(true);
    setPalette(VoxleStyle::darkPalette());
    setMinimumSize(600, 450);

    setupTexts();
    setupBadge();
    setupLayout();
    connect(&m_state, &VoxleAppState::labelsChanged, this, &OnboardingView::rebuild);
    rebuild();
}

void OnboardingView::setupTexts()
{
    m_icon->setAlignment(Qt::AlignCenter);
    QFont titleFont = font();
    titleFont.setPixelSize(28);
    titleFont.setBold(true);
    m_title->setFont(titleFont);
    m_title->setAlignment(Qt::AlignCenter);
    QFont textFont = font();
    textFont.setPixelSize(15);
    m_explanation->setFont(textFont);
    m_explanation->setAlignment(Qt::AlignCenter);
    m_explanation->setWordWrap(true);
}

void OnboardingView::setupBadge()
{
    auto *badgeLayout = new QHBoxLayout(m_badge);
    badgeLayout->setContentsMargins(0, 0, 0, 0);
    auto *check = new QLabel(QStringLiteral("✔"), m_badge);
    check->setStyleSheet(QStringLiteral("color: #30d158; font-size: 16px;"));
    badgeLayout->addStretch(1);
    badgeLayout->addWidget(check);
    m_badgeText = new QLabel(QStringLiteral("已授权"), m_badge);
    badgeLayout->addWidget(m_badgeText);
    badgeLayout->addStretch(1);
}

void OnboardingView::setupLayout()
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(14);
    column->addStretch(1);
    column->addWidget(m_icon, 0, Qt::AlignHCenter);
    column->addWidget(m_title);
    column->addWidget(m_explanation);
    column->addWidget(m_badge);
    m_buttons->setSpacing(8);
    m_buttons->setAlignment(Qt::AlignHCenter);
    column->addLayout(m_buttons);
    column->addStretch(1);
}

OnboardingView::~OnboardingView()
{
    if (m_pollTimer)
        m_clock.cancelTimer(m_pollTimer);
}

QString OnboardingView::titleText() const
{
    return m_title->text();
}

QString OnboardingView::explanationText() const
{
    return m_explanation->text();
}

QStringList OnboardingView::buttonTexts() const
{
    QStringList texts;
    for (QPushButton *button : m_shownButtons)
        texts << button->text();
    return texts;
}

bool OnboardingView::press(const QString &text)
{
    for (QPushButton *button : m_shownButtons) {
        if (button->text() == text) {
            button->click();
            return true;
        }
    }
    return false;
}

bool OnboardingView::showsGrantedBadge() const
{
    return !m_badge->isHidden();
}

void OnboardingView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_state.refreshPermissionLabels();
    schedulePoll();
}

void OnboardingView::hideEvent(QHideEvent *event)
{
    if (m_pollTimer) {
        m_clock.cancelTimer(m_pollTimer);
        m_pollTimer = 0;
    }
    QWidget::hideEvent(event);
}

void OnboardingView::schedulePoll()
{
    if (m_pollTimer)
        return;
    m_pollTimer = m_clock.schedule(pollIntervalMs, [this] {
        m_pollTimer = 0;
        poll();
        schedulePoll();
    });
}

void OnboardingView::setDesktop(const Desktop &desktop)
{
    m_desktop = desktop;
    m_shown.clear();
    rebuild();
}

void OnboardingView::poll()
{
    m_state.refreshPermissionLabels();
    using Permission = VoxleAppState::Permission;
    // Where there is nothing to grant, the step is read and left by its own button.
    if (m_step == 3 && m_desktop.session == Desktop::Session::other && m_state.inputMonitoringPermission() == Permission::granted)
        goTo(4);
    else if (m_step == 4 && m_state.accessibilityPermission() == Permission::granted)
        goTo(5);
}

void OnboardingView::goTo(int step)
{
    // The guide only moves forwards.
    if (step <= m_step)
        return;
    m_step = step;
    rebuild();
}

void OnboardingView::addButton(const QString &text, int width, std::function<void()> action)
{
    auto *button = new QPushButton(text, this);
    button->setFixedWidth(width);
    VoxleStyle::makePrimary(button);
    connect(button, &QPushButton::clicked, this, [action = std::move(action)] { action(); });
    m_buttons->addWidget(button, 0, Qt::AlignHCenter);
    m_shownButtons << button;
}

void OnboardingView::addBadge(const QString &text)
{
    m_badgeText->setText(text);
    m_badge->show();
}

void OnboardingView::requestMicrophone()
{
    requestMicrophoneFor(QPointer<OnboardingView>(this), &m_state, [](OnboardingView *view) { view->goTo(3); });
}

void OnboardingView::rebuild()
{
    // The poll refreshes the labels every second: rebuild only when what the step shows has changed, so that a
    // button is never replaced under the user's pointer.
    const QList<int> shown{m_step,
                           static_cast<int>(m_state.microphonePermission()),
                           static_cast<int>(m_state.inputMonitoringPermission()),
                           static_cast<int>(m_state.accessibilityPermission()),
                           m_state.hasRequestedInputMonitoring(),
                           m_state.hasRequestedAccessibility()};
    if (shown == m_shown)
        return;
    m_shown = shown;
    // Buttons may be rebuilt from inside their own click: delete them later.
    for (QPushButton *button : std::as_const(m_shownButtons)) {
        button->hide();
        m_buttons->removeWidget(button);
        button->deleteLater();
    }
    m_shownButtons.clear();
    m_badge->hide();
    m_icon->setStyleSheet({});
    QFont iconFont = font();
    iconFont.setPixelSize(72);
    m_icon->setFont(iconFont);

    using Permission = VoxleAppState::Permission;
    auto skipTo = [this](int next) {
        auto *skip = new QPushButton(QStringLiteral("暂不开启"), this);
        skip->setFixedWidth(kMainButtonWidth);
        skip->setFlat(true);
        connect(skip, &QPushButton::clicked, this, [this, next] { goTo(next); });
        m_buttons->addWidget(skip, 0, Qt::AlignHCenter);
        m_shownButtons << skip;
    };

    switch (m_step) {
    case 1:
        iconFont.setPixelSize(96);
        m_icon->setFont(iconFont);
        m_icon->setText(QStringLiteral("言"));
        m_icon->setStyleSheet(QStringLiteral("background: #0a84ff; color: white; border-radius: 24px;"));
        m_icon->setFixedSize(120, 120);
        m_title->setText(QStringLiteral("欢迎使用言川 Voxle"));
        m_explanation->setText(QStringLiteral("为了提供顺畅的语音输入和翻译体验，我们需要您进行一些基础授权。"));
        addButton(QStringLiteral("开始设置"), kMainButtonWidth, [this] { goTo(2); });
        break;
    case 2: {
        m_icon->setMinimumSize(0, 0);
        m_icon->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        m_icon->setText(QStringLiteral("◉"));
        m_icon->setStyleSheet(QStringLiteral("color: #0a84ff;"));
        m_title->setText(QStringLiteral("麦克风权限"));
        m_explanation->setText(QStringLiteral("我们需要使用麦克风来听你说话。"));
        switch (m_state.microphonePermission()) {
        case MicrophoneAccess::Status::authorized:
            addBadge(QStringLiteral("已授权"));
            addButton(QStringLiteral("下一步"), kMainButtonWidth, [this] { goTo(3); });
            break;
        case MicrophoneAccess::Status::denied:
        case MicrophoneAccess::Status::restricted:
            addButton(QStringLiteral("打开系统设置授权"), kMainButtonWidth,
                      [this] { m_settings.open(SettingsOpener::Pane::microphone); });
            break;
        case MicrophoneAccess::Status::notDetermined:
            addButton(QStringLiteral("授权麦克风"), kMainButtonWidth, [this] { requestMicrophone(); });
            break;
        }
        skipTo(3);
        break;
    }
    case 3: {
        m_icon->setText(QStringLiteral("⌨"));
        m_title->setText(QStringLiteral("输入监控权限"));
        const Permission permission = m_state.inputMonitoringPermission();
        if (m_desktop.session == Desktop::Session::x11) {
            // Nothing to grant here: every X11 client may listen to the keyboard. The step says so and is done.
            m_explanation->setText(QStringLiteral("在当前桌面（X11）上，全局按键监听无需单独授权，热键已可直接使用。"));
            addBadge(QStringLiteral("无需授权"));
            addButton(QStringLiteral("下一步"), kMainButtonWidth, [this] { goTo(4); });
            break;
        }
        if (m_desktop.session == Desktop::Session::wayland) {
            // Wayland gives keys to the focused window only: the desktop itself has to own the shortcuts.
            if (m_desktop.shortcutsPortal) {
                m_explanation->setText(QStringLiteral(
                    "在 Wayland 桌面上，应用无法直接监听全局按键。听写快捷键已登记到桌面的「全局快捷键」服务"
                    "（开始/结束听写、润色、翻译、取消），请在桌面弹出的窗口或系统设置的快捷键中为它们指定按键。"));
                addBadge(QStringLiteral("由桌面提供"));
            } else {
                m_explanation->setText(
                    QStringLiteral("在 Wayland 桌面上，应用无法直接监听全局按键。请在系统设置的「键盘 → "
                                   "自定义快捷键」中添加下列命令，并为每条指定一个按键：\n\n") +
                    m_desktop.shortcutCommands());
                addButton(QStringLiteral("复制命令"), kMainButtonWidth, [this] {
                    QGuiApplication::clipboard()->setText(m_desktop.shortcutCommands());
                });
            }
            addButton(QStringLiteral("下一步"), kMainButtonWidth, [this] { goTo(4); });
            break;
        }
        m_explanation->setText(QStringLiteral("为了能在任何界面下通过按键唤醒应用，我们需要全局键盘监听权限。\n\n") +
                               kManualAdd);
        if (permission == Permission::granted) {
            addBadge(QStringLiteral("已授权"));
            addButton(QStringLiteral("下一步"), kMainButtonWidth, [this] { goTo(4); });
        } else {
            const bool openSettings = permission != Permission::notGranted && m_state.hasRequestedInputMonitoring();
            addButton(openSettings ? QStringLiteral("打开系统设置授权") : QStringLiteral("授权快捷键唤醒"),
                      kWideButtonWidth, [this] {
                          if (m_state.inputMonitoringPermission() == Permission::notGranted ||
                              !m_state.hasRequestedInputMonitoring())
                              m_state.requestInputMonitoring();
                          else
                              m_settings.open(SettingsOpener::Pane::inputMonitoring);
                      });
        }
        skipTo(4);
        break;
    }
    case 4: {
        m_icon->setText(QStringLiteral("♿"));
        m_title->setText(QStringLiteral("辅助功能权限"));
        // On the Linux desktops the button itself switches the accessibility interface on: nothing to add by hand.
        m_explanation->setText(
            QStringLiteral("为了能将转换好的文字自动输入到你当前的文档或聊天框中，我们需要辅助功能权限。\n\n") +
            (m_desktop.session == Desktop::Session::other
                 ? kManualAdd
                 : QStringLiteral("点击下方按钮即可开启桌面的辅助功能接口（AT-SPI），无需重新登录。")));
        const Permission permission = m_state.accessibilityPermission();
        if (permission == Permission::granted) {
            addBadge(QStringLiteral("已授权"));
            addButton(QStringLiteral("下一步"), kMainButtonWidth, [this] { goTo(5); });
        } else {
            const bool openSettings = permission != Permission::notGranted && m_state.hasRequestedAccessibility();
            addButton(openSettings ? QStringLiteral("打开系统设置授权") : QStringLiteral("授权自动输入文字"),
                      kMainButtonWidth, [this] {
                          if (m_state.accessibilityPermission() == Permission::notGranted ||
                              !m_state.hasRequestedAccessibility())
                              m_state.requestAccessibility();
                          else
                              m_settings.open(SettingsOpener::Pane::accessibility);
                      });
        }
        skipTo(5);
        break;
    }
    default:
        m_icon->setText(QStringLiteral("★"));
        m_title->setText(QStringLiteral("一切准备就绪！"));
        m_explanation->setText(QStringLiteral("现在，按下你的热键（例如 Fn），试着说一句话吧！"));
        if (m_desktop.session == Desktop::Session::wayland)
            m_explanation->setText(QStringLiteral("现在，按下你在桌面中为「开始/结束听写」设置的快捷键，"
                                                  "试着说一句话吧！\n无法自动输入时，文字会留在剪贴板，按 Ctrl+V 粘贴即可。"));
        else if (!m_desktop.fnRoleKeyLabel.isEmpty())
            m_explanation->setText(
                m_explanation->text() +
                QStringLiteral("\n在此桌面上由「%1」充当 Fn，可在「设置」中更换。").arg(m_desktop.fnRoleKeyLabel));
        addButton(QStringLiteral("完成"), kMainButtonWidth, [this] {
            if (m_onComplete)
                m_onComplete();
        });
        break;
    }
    if (m_step != 1) {
        m_icon->setMinimumSize(0, 0);
        m_icon->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
}
