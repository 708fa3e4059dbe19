#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// Points the debug event reporter at a private home whose diagnostics file names the given collector (none:
// an empty URL, so nothing is sent anywhere while the interpreter runs).
class QuietDebugEvents
{
public:
    explicit QuietDebugEvents(const QByteArray &collectorUrl = {})
    {
        qputenv("HOME", m_home.path().toLocal8Bit());
        write("DEBUG_SERVER_URL=" + collectorUrl + "\n");
    }
    // Replaces the diagnostics file.
    bool write(const QByteArray &content)
    {
        QDir(m_home.path()).mkpath(QStringLiteral(".dbg"));
        QFile file(m_home.path() + QStringLiteral("/.dbg/fn-hotkey-not-effective.env"));
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
    }

private:
    QTemporaryDir m_home;
};
