#pragma once

#include "platform/SettingsOpener.h"

#include <QString>
#include <QStringList>

// Starts the desktop's settings program on the panel closest to the permission: GNOME Settings (sound, keyboard,
// accessibility), else KDE System Settings, else nothing but a log line.
class LinuxSettingsOpener final : public SettingsOpener
{
public:
    void open(Pane pane) override;

    struct Command {
        QString program;
        QStringList arguments;
    };
    // The candidates for a pane in the order they are tried.
    static QList<Command> candidates(Pane pane);
};
