#pragma once

// Headless sway for tests of native Wayland clients: in a user namespace (sway refuses to run as root), with a
// long-lived virtual keyboard, since nothing gets the keyboard focus without one; its log is kept in memory.
// Run inside scripts/lib/desktop.sh.
#include "DesktopChild.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <optional>

class HeadlessSway
{
public:
    // True once the compositor serves its socket; env then reaches it.
    bool start()
    {
        QFile::setPermissions(m_runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile config(m_runtime.filePath(QStringLiteral("sway.conf")));
        if (!config.open(QIODevice::WriteOnly))
            return false;
        config.write("xwayland disable\noutput HEADLESS-1 resolution 1280x800 position 0 0\n"
                     "default_border none\nfocus_follows_mouse no\n");
        config.close();
        m_sway.emplace(QStringLiteral("unshare"),
                       QStringList{QStringLiteral("--user"), QStringLiteral("--map-user=1000"),
                                   QStringLiteral("--map-group=1000"), QStringLiteral("sway"), QStringLiteral("-c"),
                                   config.fileName()},
                       QMap<QString, QString>{{QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path()},
                                              {QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless")},
                                              {QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman")},
                                              {QStringLiteral("DISPLAY"), QStringLiteral("-")}},
                       QProcess::MergedChannels);
        QString socket;
        if (!m_sway->waitUntil(
                [&]() {
                    socket = QDir(m_runtime.path()).entryList({QStringLiteral("wayland-?")}, QDir::System).value(0);
                    return !socket.isEmpty();
                },
                10000))
            return false;
        env = {{QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path()},
               {QStringLiteral("WAYLAND_DISPLAY"), socket},
               {QStringLiteral("DISPLAY"), QStringLiteral("-")}};
        m_keyboard.emplace(QStringLiteral("wtype"), QStringList{QStringLiteral("-s"), QStringLiteral("3600000")}, env);
        return m_keyboard->running();
    }

    // Changes for a client's environment (a value of "-" removes the variable).
    QMap<QString, QString> env;

private:
    QTemporaryDir m_runtime;
    std::optional<DesktopChild> m_sway;
    std::optional<DesktopChild> m_keyboard;
};
