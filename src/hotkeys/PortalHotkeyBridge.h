#pragma once

#include "hotkeys/HotkeyHost.h"
#include "platform/GlobalShortcuts.h"

#include <QObject>

// The dictation commands as desktop shortcuts, for sessions where the program cannot watch the keyboard
// (Wayland): asks the desktop for the four actions and turns their presses and releases into the same
// commands the key interpreter gives.
class PortalHotkeyBridge : public QObject
{
    Q_OBJECT
public:
    // The actions as the desktop lists them; the ids stay stable, since the desktop keeps the user's keys
    // under them.
    static QList<GlobalShortcuts::Shortcut> actions();

    PortalHotkeyBridge(HotkeyHost &host, GlobalShortcuts &shortcuts, QObject *parent = nullptr);

    void start();

private:
    void activated(const QString &id);
    void deactivated(const QString &id);

    HotkeyHost &m_host;
    GlobalShortcuts &m_shortcuts;
    // The action whose key started the present hold-to-talk recording.
    QString m_held;
};
