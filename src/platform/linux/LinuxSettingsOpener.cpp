#include "platform/linux/LinuxSettingsOpener.h"

#include "base/Logging.h"

#include <QProcess>
#include <QStandardPaths>

namespace {
QString gnomePanel(SettingsOpener::Pane pane)
{
    switch (pane) {
    case SettingsOpener::Pane::microphone:
        return QStringLiteral("sound");
    case SettingsOpener::Pane::inputMonitoring:
        return QStringLiteral("keyboard");
    case SettingsOpener::Pane::accessibility:
        return QStringLiteral("universal-access");
    }
    return {};
}

QString kdeModule(SettingsOpener::Pane pane)
{
    switch (pane) {
    case SettingsOpener::Pane::microphone:
        return QStringLiteral("kcm_pulseaudio");
    case SettingsOpener::Pane::inputMonitoring:
        return QStringLiteral("kcm_keyboard");
    case SettingsOpener::Pane::accessibility:
        return QStringLiteral("kcm_access");
    }
    return {};
}
} // namespace

QList<LinuxSettingsOpener::Command> LinuxSettingsOpener::candidates(Pane pane)
{
    return {{QStringLiteral("gnome-control-center"), {gnomePanel(pane)}},
            {QStringLiteral("systemsettings"), {kdeModule(pane)}}};
}

void LinuxSettingsOpener::open(Pane pane)
{
    for (const Command &command : candidates(pane)) {
        if (QStandardPaths::findExecutable(command.program).isEmpty())
            continue;
        if (QProcess::startDetached(command.program, command.arguments))
            return;
    }
    qCInfo(lcAppState) << "[Settings] no desktop settings program found for pane" << static_cast<int>(pane);
}
