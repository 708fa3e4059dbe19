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
        QDir(m_home.path()).mkpath(QStringLiteral(".dbg"));
        QFile file(m_home.path() + QStringLiteral("/.dbg/fn-hotkey-not-effective.env"));
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write("DEBUG_SERVER_URL=" + collectorUrl + "\n");
    }

private:
    QTemporaryDir m_home;
};
