#pragma once

// fcitx5 as a child process with the project's add-on loaded from the build tree and a profile offering
// keyboard-us and pinyin, in a private configuration folder.
#include "../support/DesktopChild.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <optional>

class Fcitx5Server
{
public:
    // env: extra variables for fcitx5 (e.g. WAYLAND_DISPLAY); a value of "-" removes the variable.
    explicit Fcitx5Server(const QMap<QString, QString> &env = {})
    {
        const QString build = qEnvironmentVariable("VOXLE_BUILD_DIR");
        QDir(m_home.path()).mkpath(QStringLiteral("config/fcitx5"));
        QFile profile(m_home.filePath(QStringLiteral("config/fcitx5/profile")));
        if (profile.open(QIODevice::WriteOnly))
            profile.write("[Groups/0]\nName=Default\nDefault Layout=us\nDefaultIM=pinyin\n"
                          "[Groups/0/Items/0]\nName=keyboard-us\nLayout=\n[Groups/0/Items/1]\nName=pinyin\nLayout=\n"
                          "[GroupOrder]\n0=Default\n");
        profile.close();
        m_env = {{QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config"))},
                 {QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data"))},
                 {QStringLiteral("XDG_DATA_DIRS"), build + QStringLiteral("/fcitx5/share:/usr/share")},
                 {QStringLiteral("FCITX_ADDON_DIRS"), build + QStringLiteral("/fcitx5/lib:/usr/lib/x86_64-linux-gnu/fcitx5")}};
        m_env.insert(env);
        // Replaces an instance that D-Bus activation may have started for an earlier GTK window on this bus.
        m_process.emplace(QStringLiteral("fcitx5"), QStringList{QStringLiteral("-r")}, m_env, QProcess::MergedChannels);
    }

    // True once pinyin and the add-on are loaded.
    bool waitReady()
    {
        return m_process->waitUntil(
            [this]() { return log().contains(QLatin1String("Loaded addon voxle")) && log().contains(QLatin1String("Loaded addon pinyin")); },
            15000);
    }
    QString log() const { return m_process->lines.join(u'\n'); }

    // fcitx5-remote and friends, in fcitx5's environment.
    void run(const QString &program, const QStringList &args)
    {
        DesktopChild::output(program, args, DesktopChild::environment(m_env));
    }

private:
    QTemporaryDir m_home;
    QMap<QString, QString> m_env;
    std::optional<DesktopChild> m_process;
};
