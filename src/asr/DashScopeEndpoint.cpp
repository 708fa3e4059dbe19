#include "asr/DashScopeEndpoint.h"

#include "base/Logging.h"
#include "net/VoxleEndpoints.h"

namespace {
const QString defaultOrigin = QStringLiteral("wss://dashscope.aliyuncs.com");
const QString realtimePath = QStringLiteral("/api-ws/v1/inference");

QUrl fallback(const QString &why, const QString &value)
{
    qCWarning(lcRealtimeASR, "[DashScope] ignoring VOXLE_DASHSCOPE_URL=%s: %s", qUtf8Printable(value),
              qUtf8Printable(why));
    return QUrl(defaultOrigin + realtimePath);
}
} // namespace

QUrl dashScopeRealtimeUrl()
{
    return dashScopeRealtimeUrl(qEnvironmentVariable("VOXLE_DASHSCOPE_URL"));
}

QUrl dashScopeRealtimeUrl(const QString &originOverride)
{
    const QString value = originOverride.trimmed();
    if (value.isEmpty())
        return QUrl(defaultOrigin + realtimePath);
    const QUrl given(value, QUrl::StrictMode);
    if (!given.isValid() || given.host().isEmpty())
        return fallback(QStringLiteral("not an origin"), value);
    if ((!given.path().isEmpty() && given.path() != QStringLiteral("/")) || given.hasQuery() || given.hasFragment() ||
        !given.userInfo().isEmpty())
        return fallback(QStringLiteral("only scheme://host:port may be given"), value);

    const QString scheme = given.scheme().toLower();
    QString wsScheme;
    if (scheme == QStringLiteral("wss") || scheme == QStringLiteral("https"))
        wsScheme = QStringLiteral("wss");
    else if (scheme == QStringLiteral("ws") || scheme == QStringLiteral("http"))
        wsScheme = QStringLiteral("ws");
    else
        return fallback(QStringLiteral("unsupported scheme"), value);
    // The API key travels in the upgrade request: never in clear text beyond this machine.
    if (wsScheme == QStringLiteral("ws") && !VoxleEndpoints::isLoopbackHost(given.host()))
        return fallback(QStringLiteral("plain ws:// is allowed for loopback hosts only"), value);

    QUrl url;
    url.setScheme(wsScheme);
    url.setHost(given.host());
    url.setPort(given.port()); // -1, none given, leaves it out
    url.setPath(realtimePath);
    return url;
}
