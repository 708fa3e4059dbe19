#include "diagnostics/DebugEventConfig.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>

QString DebugEventConfig::filePath()
{
    return QDir::homePath() + QStringLiteral("/.dbg/fn-hotkey-not-effective.env");
}

DebugEventConfig DebugEventConfig::parse(const QString &text)
{
    static const QString urlPrefix = QStringLiteral("DEBUG_SERVER_URL=");
    static const QString sessionPrefix = QStringLiteral("DEBUG_SESSION_ID=");
    DebugEventConfig config;
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        if (line.startsWith(urlPrefix))
            config.collectorUrl = line.mid(urlPrefix.size());
        else if (line.startsWith(sessionPrefix))
            config.sessionId = line.mid(sessionPrefix.size());
    }
    return config;
}

DebugEventConfig DebugEventConfig::load()
{
    QFile file(filePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return {};
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return {};
    return parse(text);
}
