#pragma once

// Headless sway for tests of native Wayland clients: in a user namespace (sway refuses to run as root), with a
// long-lived virtual keyboard, since nothing gets the keyboard focus without one. Run inside
// scripts/lib/desktop.sh.
#include "../support/DesktopChild.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

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
        m_sway.setProcessEnvironment(
            DesktopChild::environment({{QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path()},
                                       {QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless")},
                                       {QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman")},
                                       {QStringLiteral("DISPLAY"), QStringLiteral("-")}}));
        m_sway.setProcessChannelMode(QProcess::MergedChannels);
        m_sway.setStandardOutputFile(m_runtime.filePath(QStringLiteral("sway.log")));
        m_sway.start(QStringLiteral("unshare"),
                     {QStringLiteral("--user"), QStringLiteral("--map-user=1000"), QStringLiteral("--map-group=1000"),
                      QStringLiteral("sway"), QStringLiteral("-c"), config.fileName()});
        QString socket;
        const bool up = QTest::qWaitFor(
            [&]() {
                socket = QDir(m_runtime.path()).entryList({QStringLiteral("wayland-?")}, QDir::System).value(0);
                return !socket.isEmpty() || m_sway.state() == QProcess::NotRunning;
            },
            10000);
        if (!up || socket.isEmpty())
            return false;
        env = {{QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path()},
               {QStringLiteral("WAYLAND_DISPLAY"), socket},
               {QStringLiteral("DISPLAY"), QStringLiteral("-")}};
        m_keyboard.setProcessEnvironment(DesktopChild::environment(env));
        m_keyboard.start(QStringLiteral("wtype"), {QStringLiteral("-s"), QStringLiteral("3600000")});
        return m_keyboard.waitForStarted();
    }
    ~HeadlessSway()
    {
        DesktopChild::stop(m_keyboard);
        DesktopChild::stop(m_sway);
    }

    // Changes for a client's environment (a value of "-" removes the variable).
    QMap<QString, QString> env;

private:
    QTemporaryDir m_runtime;
    QProcess m_sway;
    QProcess m_keyboard;
};
