#include "net/VoxleEndpoints.h"

#include "base/Logging.h"

#include <QHostAddress>

namespace VoxleEndpoints {

bool isLoopbackHost(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

QUrl resolveOrigin(const QString &overrideText, const QUrl &fallback)
{
    const QString text = overrideText.trimmed();
    if (text.isEmpty())
        return fallback;
    const QUrl url(text, QUrl::StrictMode);
    QString scheme = url.scheme().toLower();
    // The DashScope origin is shared with the realtime WebSocket, so ws/wss name the same host.
    if (scheme == QLatin1String("wss"))
        scheme = QStringLiteral("https");
    else if (scheme == QLatin1String("ws"))
        scheme = QStringLiteral("http");
    const bool secure = scheme == QLatin1String("https");
    const bool loopbackHttp = scheme == QLatin1String("http") && isLoopbackHost(url.host());
    if (!url.isValid() || url.host().isEmpty() || (!secure && !loopbackHttp)) {
        qCWarning(lcNetworkApi).noquote() << "[VoxleServerApi] ignoring origin override (https, or http on a loopback "
                                             "host only):"
                                          << text;
        return fallback;
    }
    QUrl origin;
    origin.setScheme(scheme);
    origin.setHost(url.host());
    origin.setPort(url.port());
    return origin;
}

QUrl appendPath(const QUrl &base, const QString &path)
{
    QUrl url = base;
    QString joined = base.path();
    while (joined.endsWith(QLatin1Char('/')))
        joined.chop(1);
    joined += path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path;
    url.setPath(joined);
    return url;
}

QUrl backendBaseURL()
{
    static const QUrl url =
        resolveOrigin(qEnvironmentVariable("VOXLE_BACKEND_URL"), QUrl(QStringLiteral("https://api.voxle.app")));
    return url;
}

QUrl dashScopeChatCompletionsURL()
{
    static const QUrl url = appendPath(resolveOrigin(qEnvironmentVariable("VOXLE_DASHSCOPE_URL"),
                                                     QUrl(QStringLiteral("https://dashscope.aliyuncs.com"))),
                                       QStringLiteral("/compatible-mode/v1/chat/completions"));
    return url;
}

} // namespace VoxleEndpoints
