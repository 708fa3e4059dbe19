#pragma once

#include <QString>
#include <QStringList>

// What the desktop the program runs on lets it do, as the guide and the Home page tell the user.
struct DesktopFacts {
    enum class Session {
        x11,     // every client may listen to the keyboard: nothing to grant
        wayland, // keys reach only the focused client: hotkeys come from the desktop
        other,   // a desktop that asks the user to grant keyboard monitoring
    };
    Session session = Session::other;
    // Wayland: the desktop's GlobalShortcuts portal holds the dictation shortcuts.
    bool shortcutsPortal = false;
    // The key that plays Fn where the keyboard's own Fn key is invisible; empty where Fn itself works.
    QString fnRoleKeyLabel;
    // How the desktop's shortcut settings start this program ("voxle" when it is on the PATH).
    QString command = QStringLiteral("voxle");

    // The commands a user binds to keys in the desktop's own shortcut settings, one per line.
    QString shortcutCommands() const
    {
        return QStringList{command + QStringLiteral(" --toggle"), command + QStringLiteral(" --action translate"),
                           command + QStringLiteral(" --cancel")}
            .join(QLatin1Char('\n'));
    }
};
