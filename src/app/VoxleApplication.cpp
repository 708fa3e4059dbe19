#include "app/VoxleApplication.h"

#include "app/main/VoxleRootView.h"
#include "app/main/VoxleSidebar.h"
#include "app/pages/VoxleHomeView.h"
#include "app/pages/VoxleSettingsView.h"
#include "app/widgets/VoxleStyle.h"
#include "asr/DashScopeEndpoint.h"
#include "diagnostics/DebugEvent.h"
#include "hotkeys/FnRoleKeyPreference.h"
#include "platform/linux/X11WindowKeyTranslator.h"

#include <QApplication>
#include <QFileInfo>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QStandardPaths>
#include <QStyleFactory>
#include <QSystemTrayIcon>

namespace {
QString historyDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Voxle");
}

QString overlayKindName(OverlayState::Kind kind)
{
    switch (kind) {
    case OverlayState::Kind::hidden:
        return QStringLiteral("hidden");
    case OverlayState::Kind::recording:
        return QStringLiteral("recording");
    case OverlayState::Kind::processing:
        return QStringLiteral("processing");
    case OverlayState::Kind::error:
        return QStringLiteral("error");
    }
    return {};
}
} // namespace

VoxleApplication::VoxleApplication(QObject *parent)
    : QObject(parent), m_history(historyDirectory(), m_clock), m_audio(m_audioInput, {16000, 1, 1024}, &m_microphone),
      m_sessions(m_clock, dashScopeRealtimeUrl()),
      m_accessibility([this]() { return m_wayland ? 0 : m_keySynth.focusedWindowPid(); }),
      m_portalKeyboard(QDBusConnection::sessionBus(), historyDirectory() + QStringLiteral("/remote-desktop-token")),
      m_injector(m_accessibility, m_wayland ? static_cast<Pasteboard &>(m_waylandPasteboard) : m_pasteboard,
                 m_wayland ? static_cast<KeySynth &>(m_waylandKeys) : m_keySynth, m_clock)
{
    m_authUi = std::make_unique<VoxleAuthUi>(m_clock);
    m_account = std::make_unique<VoxleAccount>(
        m_defaults, m_keychain, m_clock, m_network, [this]() { return m_state->preferences().useProxy(); },
        m_authUi.get());
    m_authUi->setAccount(m_account.get());
    m_cloud = std::make_unique<VoxleCloud>(*m_account, m_network, m_clock);
    m_state = std::make_unique<VoxleAppState>(VoxleAppStateServices{
        m_clock,
        m_defaults,
        m_keychain,
        m_historyRecorder,
        m_audioTiming,
        m_sessions,
        m_liveText,
        *m_cloud,
        m_microphone,
        [this]() { return m_keyTap.inputMonitoringGranted(); },
        [this]() { return m_accessibility.isProcessTrusted(); },
        [this]() { m_account->restoreAuthState(); },
        // X11 has nothing to grant for listening to keys: a reachable display is the permission.
        []() {},
        [this]() { m_injector.requestAccessibilityTrust(); },
    });
    connect(m_account.get(), &VoxleAccount::apiKeyReceived, m_state.get(), &VoxleAppState::saveDashScopeApiKey);
    connect(&m_cloud->rewriter(), &TextRewriter::networkErrorReported, m_state.get(),
            &VoxleAppState::setLastNetworkErrorLabel);
    m_state->load();
    wireInputMethod();
    m_keyTap.setFnRoleKey(FnRoleKeyPreference::read(m_defaults));
    m_hotkeyHost = std::make_unique<VoxleAppStateHotkeyHost>(*m_state);
    m_hotkeys = std::make_unique<GlobalHotkeyService>(*m_hotkeyHost, m_keyTap, m_clock);

    // The keys the tap may need to swallow depend on the status and on the bindings.
    VoxlePreferences &prefs = m_state->preferences();
    GlobalHotkeyService *hotkeys = m_hotkeys.get();
    connect(m_state.get(), &VoxleAppState::statusChanged, hotkeys, &GlobalHotkeyService::refreshSwallowCandidates);
    connect(&prefs, &VoxlePreferences::hotkeySchemeChanged, hotkeys, &GlobalHotkeyService::refreshSwallowCandidates);
    connect(&prefs, &VoxlePreferences::bindingsChanged, hotkeys, &GlobalHotkeyService::refreshSwallowCandidates);
    connect(&prefs, &VoxlePreferences::modifierActionsChanged, hotkeys, &GlobalHotkeyService::refreshSwallowCandidates);
}

VoxleApplication::~VoxleApplication() = default;

void VoxleApplication::wireInputMethod()
{
    if (m_wayland) {
        m_accessibility.followFocus();
        m_portalKeyboard.probe();
    }
    // A paste that could not be made is told, unless the user is already dictating again.
    m_injector.setFailureHandler([this](const QString &message) {
        if (m_state->status() != VoxleAppState::AppStatus::recording && !m_state->isPreparingStart())
            m_state->showError(message);
    });
    // The user's input method sits between accessibility and the paste; live text (a setting) shows the
    // partials in the field through it while recording and is removed when a dictation ends without text.
    m_injector.setInputMethod(&m_inputMethod);
    VoxlePreferences &prefs = m_state->preferences();
    m_liveText.setEnabled(prefs.liveTextPreedit());
    connect(&prefs, &VoxlePreferences::liveTextPreeditChanged, this,
            [this]() { m_liveText.setEnabled(m_state->preferences().liveTextPreedit()); });
    connect(m_state.get(), &VoxleAppState::overlayChanged, this, [this]() {
        const OverlayState &overlay = m_state->overlay();
        if (m_state->status() == VoxleAppState::AppStatus::recording && overlay.kind == OverlayState::Kind::recording &&
            overlay.partial)
            m_liveText.showPartial(*overlay.partial);
    });
    connect(m_state.get(), &VoxleAppState::statusChanged, this, [this]() {
        const VoxleAppState::AppStatus status = m_state->status();
        if (status == VoxleAppState::AppStatus::idle || status == VoxleAppState::AppStatus::error)
            m_liveText.cancel();
    });
}

void VoxleApplication::start(bool showWindow)
{
    applyDarkAppearance();
    buildMainWindow();
    if (showWindow)
        showMainWindow();
    const bool listenAccess = m_keyTap.inputMonitoringGranted();
    sendDebugEvent(QStringLiteral("AppDelegate.applicationDidFinishLaunching"),
                   QStringLiteral("[DEBUG] app did finish launching"), QStringLiteral("D"),
                   {{QStringLiteral("micAuth"), static_cast<int>(m_microphone.status())},
                    {QStringLiteral("listenEventAccess"), listenAccess}});
    // Shown after the main window, so the guide is the window in front.
    if (permissionsMissing())
        showOnboarding();

    m_overlay = std::make_unique<OverlayController>(*m_state);
    m_overlay->setDesktopShortcuts(m_wayland);
    m_overlay->start();
    sendDebugEvent(QStringLiteral("AppDelegate.applicationDidFinishLaunching"),
                   QStringLiteral("[DEBUG] overlay controller started"), QStringLiteral("D"));
    m_hotkeys->start();
    sendDebugEvent(QStringLiteral("AppDelegate.applicationDidFinishLaunching"),
                   QStringLiteral("[DEBUG] hotkey service start invoked"), QStringLiteral("A"),
                   {{QStringLiteral("scheme"), id(m_state->preferences().hotkeyScheme())}});
    // On Wayland the X tap sees keys only while an X window has focus: the desktop's shortcuts stand in.
    if (m_wayland) {
        m_desktopShortcuts = std::make_unique<PortalGlobalShortcuts>();
        m_portalHotkeys = std::make_unique<PortalHotkeyBridge>(*m_hotkeyHost, *m_desktopShortcuts);
        // The pages say how to get hotkeys: through the desktop's portal once it has bound them, else by
        // the commands to bind by hand.
        connect(m_desktopShortcuts.get(), &GlobalShortcuts::statusChanged, this, [this]() {
            const DesktopFacts facts = desktopFacts();
            if (m_mainWindow)
                m_mainWindow->rootView()->homeView()->setDesktop(facts);
            if (m_onboarding)
                m_onboarding->view()->setDesktop(facts);
        });
        m_portalHotkeys->start();
    }
    setUpTray();
}

void VoxleApplication::applyDarkAppearance()
{
    // Dark, whatever the desktop's own theme is.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(VoxleStyle::darkPalette());
}

bool VoxleApplication::permissionsMissing()
{
    return m_microphone.status() != MicrophoneAccess::Status::authorized || !m_keyTap.inputMonitoringGranted() ||
           !m_accessibility.isProcessTrusted();
}

void VoxleApplication::showOnboarding()
{
    if (!m_onboarding) {
        m_onboarding = std::make_unique<OnboardingWindow>(*m_state, m_settingsOpener, m_clock, desktopFacts());
        connect(m_onboarding.get(), &OnboardingWindow::completed, this, [this]() {
            m_onboarding->close();
            m_onboarding.release()->deleteLater();
        });
        // Centred, as the guide is the first thing a new user reads (a window manager may otherwise put it
        // where part of it is off screen).
        if (QScreen *screen = QGuiApplication::primaryScreen()) {
            QRect frame(QPoint(), m_onboarding->size());
            frame.moveCenter(screen->availableGeometry().center());
            m_onboarding->move(frame.topLeft());
        }
    }
    m_onboarding->show();
    m_onboarding->raise();
    m_onboarding->activateWindow();
}

DesktopFacts VoxleApplication::desktopFacts() const
{
    DesktopFacts facts;
    if (m_wayland)
        facts.session = DesktopFacts::Session::wayland;
    else if (QGuiApplication::platformName() == QStringLiteral("xcb"))
        facts.session = DesktopFacts::Session::x11;
    facts.shortcutsPortal = m_desktopShortcuts && m_desktopShortcuts->status() == GlobalShortcuts::Status::bound;
    facts.fnRoleKeyLabel = FnRoleKeys::label(m_keyTap.fnRoleKey());
    // The desktop's shortcut settings run a command line: the short name only when it finds this program.
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("voxle"));
    facts.command = !onPath.isEmpty() && QFileInfo(onPath).canonicalFilePath() == self ? QStringLiteral("voxle") : self;
    return facts;
}

void VoxleApplication::setUpTray()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_tray = new QSystemTrayIcon(this);
    auto *menu = new QMenu();
    menu->addAction(QStringLiteral("显示主窗口"), this, &VoxleApplication::showMainWindow);
    menu->addAction(QStringLiteral("开始/结束听写"), this,
                    [this]() { m_state->toggleRecordingFromHotkey(DictationMode::polish); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("退出"), qApp, &QCoreApplication::quit);
    m_tray->setContextMenu(menu);
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            showMainWindow();
    });
    connect(m_state.get(), &VoxleAppState::statusChanged, this, &VoxleApplication::refreshTray);
    refreshTray();
    m_tray->show();
}

void VoxleApplication::refreshTray()
{
    if (!m_tray)
        return;
    QColor colour(120, 120, 128);
    switch (m_state->status()) {
    case VoxleAppState::AppStatus::recording:
        colour = QColor(230, 60, 60);
        break;
    case VoxleAppState::AppStatus::processing:
        colour = QColor(64, 128, 255);
        break;
    case VoxleAppState::AppStatus::error:
        colour = QColor(240, 170, 40);
        break;
    case VoxleAppState::AppStatus::idle:
        break;
    }
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(colour);
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QRectF(4, 4, 24, 24));
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(QRectF(13, 8, 6, 12), 3, 3);
    painter.end();
    m_tray->setIcon(QIcon(pixmap));
    m_tray->setToolTip(QStringLiteral("言川 Voxle – ") + m_state->statusLabel());
}

void VoxleApplication::buildMainWindow()
{
    if (m_mainWindow)
        return;
    m_mainWindow =
        std::make_unique<MainWindow>(VoxleViewServices{*m_state, *m_account, m_history, m_clock, m_settingsOpener,
                                                       m_pasteboard, m_defaults, &X11WindowKeyTranslator::create});
    connect(m_mainWindow.get(), &MainWindow::firstPainted, this, &VoxleApplication::mainWindowFirstPainted);
    VoxleRootView *root = m_mainWindow->rootView();
    root->homeView()->setDesktop(desktopFacts());
    root->closeAuthWindow = [this]() { m_authUi->closeAuthWindow(); };
    m_authUi->setMainWindow(m_mainWindow.get());
    connect(root->settingsView(), &VoxleSettingsView::fnRoleKeyChanged, this, &VoxleApplication::applyFnRoleKey);
    connect(root->sidebar(), &VoxleSidebar::quitRequested, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void VoxleApplication::applyFnRoleKey(FnRoleKey key)
{
    // The stored choice is what the capture sheet reads; the running tap follows it at once.
    m_keyTap.setFnRoleKey(key);
    m_hotkeys->refreshSwallowCandidates();
}

void VoxleApplication::showMainWindow()
{
    buildMainWindow();
    MainWindow *window = m_mainWindow.get();
    if (window->isMinimized())
        window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->show();
    window->raise();
    window->activateWindow();
}

QCoro::Task<> VoxleApplication::pasteLast()
{
    const QList<VoxleHistoryEntry> entries = co_await m_history.fetchRecent(std::nullopt, 1);
    if (!entries.isEmpty())
        m_injector.injectAtCursor(entries.first().outputText);
}

QJsonObject VoxleApplication::handleCommand(const QJsonObject &command)
{
    const QString name = command.value(QStringLiteral("command")).toString();
    const QJsonObject ok{{QStringLiteral("ok"), true}};
    if (name == QStringLiteral("toggle")) {
        m_audioTiming.markFirstToggle();
        m_state->toggleRecordingFromHotkey(DictationMode::polish);
        return ok;
    }
    if (name == QStringLiteral("action")) {
        const auto action = parseHotkeyAction(command.value(QStringLiteral("action")).toString());
        if (!action || *action == HotkeyAction::off)
            return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), QStringLiteral("unknown action")}};
        m_state->performHotkeyAction(*action);
        return ok;
    }
    if (name == QStringLiteral("cancel")) {
        m_state->cancelRecording();
        return ok;
    }
    if (name == QStringLiteral("show")) {
        showMainWindow();
        return ok;
    }
    if (name == QStringLiteral("paste-last")) {
        pasteLast();
        return ok;
    }
    if (name == QStringLiteral("state")) {
        const OverlayState &overlay = m_state->overlay();
        return {{QStringLiteral("ok"), true},
                {QStringLiteral("status"), m_state->statusLabel()},
                {QStringLiteral("overlay"), overlayKindName(overlay.kind)},
                {QStringLiteral("message"), overlay.message.value_or(QString())},
                {QStringLiteral("partial"), overlay.partial.value_or(QString())},
                {QStringLiteral("firstToggleToFirstPcmMs"), m_audioTiming.firstToggleToFirstPcmMs()}};
    }
    return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), QStringLiteral("unknown command")}};
}
