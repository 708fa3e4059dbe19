#pragma once

#include "app/AudioCaptureTiming.h"
#include "app/auth/AuthWindow.h"
#include "app/auth/SliderCaptchaView.h"
#include "app/auth/VoxleAuthUi.h"
#include "app/main/MainWindow.h"
#include "app/onboarding/OnboardingWindow.h"
#include "app/overlay/OverlayController.h"
#include "asr/ParaformerSessionFactory.h"
#include "audio/AudioCaptureService.h"
#include "base/SystemClock.h"
#include "core/KeychainStore.h"
#include "core/VoxleAccount.h"
#include "core/VoxleAppState.h"
#include "core/VoxleAppStateHotkeyHost.h"
#include "core/VoxleCloud.h"
#include "core/VoxleHistoryRecorder.h"
#include "history/VoxleHistoryStore.h"
#include "hotkeys/GlobalHotkeyService.h"
#include "hotkeys/PortalHotkeyBridge.h"
#include "output/InputMethodLiveText.h"
#include "output/TextInjectionService.h"
#include "platform/DesktopSession.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/Fcitx5InputMethodCommit.h"
#include "platform/linux/JsonFileUserDefaults.h"
#include "platform/linux/LibsecretSecretStore.h"
#include "platform/linux/LinuxAudioInput.h"
#include "platform/linux/LinuxMicrophoneAccess.h"
#include "platform/linux/LinuxSettingsOpener.h"
#include "platform/linux/PortalGlobalShortcuts.h"
#include "platform/linux/RemoteDesktopKeyboard.h"
#include "platform/linux/WaylandKeySynth.h"
#include "platform/linux/WlClipboardPasteboard.h"
#include "platform/linux/X11ClipboardPasteboard.h"
#include "platform/linux/X11KeyEventTap.h"
#include "platform/linux/XTestKeySynth.h"

#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QObject>
#include <memory>

class QSystemTrayIcon;

// The composition root: every service with its Linux backend, built once and passed by constructor.
class VoxleApplication : public QObject
{
    Q_OBJECT
public:
    explicit VoxleApplication(QObject *parent = nullptr);
    ~VoxleApplication() override;

    // The start-up sequence: dark appearance, the main window (shown when `showMainWindow`), the permission
    // check and onboarding, overlay, hotkeys, tray.
    void start(bool showMainWindow = true);
    // A command of the command line, from this process or a later launch.
    QJsonObject handleCommand(const QJsonObject &command);

    VoxleAppState &state() { return *m_state; }
    MainWindow *mainWindow() const { return m_mainWindow.get(); }
    // Shows the main window, or brings it back to the front with the keyboard focus when it is hidden,
    // minimised or behind other windows.
    void showMainWindow();

signals:
    void mainWindowFirstPainted();

private:
    void applyDarkAppearance();
    void wireInputMethod();
    bool permissionsMissing();
    void showOnboarding();
    DesktopFacts desktopFacts() const;
    void buildMainWindow();
    void applyFnRoleKey(FnRoleKey key);
    void setUpTray();
    void refreshTray();
    QCoro::Task<> pasteLast();

    SystemClock m_clock;
    JsonFileUserDefaults m_defaults;
    LibsecretSecretStore m_secretStore;
    KeychainStore m_keychain{m_secretStore};
    VoxleHistoryStore m_history;
    VoxleHistoryRecorder m_historyRecorder{m_history};
    LinuxMicrophoneAccess m_microphone;
    LinuxAudioInput m_audioInput;
    AudioCaptureService m_audio;
    AudioCaptureTiming m_audioTiming{m_audio};
    ParaformerSessionFactory m_sessions;
    // On Wayland the X connection reaches only X clients: native windows get the keys and the clipboard
    // through the compositor, and the focus through the accessibility events.
    const bool m_wayland = currentDesktopSession() == DesktopSession::wayland;
    XTestKeySynth m_keySynth;
    AtspiAccessibility m_accessibility;
    X11ClipboardPasteboard m_pasteboard;
    RemoteDesktopKeyboard m_portalKeyboard;
    WaylandKeySynth m_waylandKeys{[this]() { return m_accessibility.focusIdentity(); }, QStringLiteral("wtype"),
                                  &m_portalKeyboard};
    WlClipboardPasteboard m_waylandPasteboard;
    Fcitx5InputMethodCommit m_inputMethod;
    TextInjectionService m_injector;
    // What the state inserts through: live text in front of the injector.
    InputMethodLiveText m_liveText{m_injector, m_inputMethod};
    QNetworkAccessManager m_network;
    LinuxSettingsOpener m_settingsOpener;
    // Destroyed after the account it serves (members go in reverse order).
    std::unique_ptr<VoxleAuthUi> m_authUi;
    std::unique_ptr<VoxleAccount> m_account;
    std::unique_ptr<VoxleCloud> m_cloud;
    std::unique_ptr<VoxleAppState> m_state;
    X11KeyEventTap m_keyTap;
    std::unique_ptr<VoxleAppStateHotkeyHost> m_hotkeyHost;
    std::unique_ptr<GlobalHotkeyService> m_hotkeys;
    // Wayland: the desktop's own shortcuts, where it offers the portal.
    std::unique_ptr<PortalGlobalShortcuts> m_desktopShortcuts;
    std::unique_ptr<PortalHotkeyBridge> m_portalHotkeys;
    std::unique_ptr<OverlayController> m_overlay;
    std::unique_ptr<MainWindow> m_mainWindow;
    std::unique_ptr<OnboardingWindow> m_onboarding;
    QSystemTrayIcon *m_tray = nullptr;
};
