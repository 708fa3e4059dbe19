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
    return fromFileContents(bytes);
}

DebugEventConfig DebugEventConfig::fromFileContents(const QByteArray &bytes)
{
    // Stateless, so that a sequence cut off at the end of the file is an error rather than silently dropped.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return {};
    return parse(text);
}

std::optional<QUrl> DebugEventConfig::collectorEndpoint() const
{
    const QUrl url(collectorUrl, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return std::nullopt;
    return url;
}
