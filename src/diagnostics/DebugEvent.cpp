#include "diagnostics/DebugEvent.h"

#include "diagnostics/DebugEventConfig.h"
#include "diagnostics/DebugEventSender.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QUrl>

void sendDebugEvent(const QString &location, const QString &message, const QString &hypothesisId,
                    const QJsonObject &data)
{
    const DebugEventConfig config = DebugEventConfig::load();
    const std::optional<QUrl> url = config.collectorEndpoint();
    if (!url)
        return;
    const QByteArray body =
        debugEventBody(config, location, message, hypothesisId, data, QDateTime::currentMSecsSinceEpoch());
    if (body.isEmpty())
        return;
    DebugEventSender::post(*url, body);
}

QByteArray debugEventBody(const DebugEventConfig &config, const QString &location, const QString &message,
                          const QString &hypothesisId, const QJsonObject &data, qint64 timestampMs)
{
    QJsonObject event;
    event.insert(QStringLiteral("sessionId"), config.sessionId);
    event.insert(QStringLiteral("runId"), QStringLiteral("pre-fix"));
    event.insert(QStringLiteral("hypothesisId"), hypothesisId);
    event.insert(QStringLiteral("location"), location);
    event.insert(QStringLiteral("msg"), message);
    event.insert(QStringLiteral("data"), data);
    event.insert(QStringLiteral("ts"), timestampMs);
    return QJsonDocument(event).toJson(QJsonDocument::Compact);
}
