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
    const QUrl url(config.collectorUrl, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return;

    QJsonObject event;
    event.insert(QStringLiteral("sessionId"), config.sessionId);
    event.insert(QStringLiteral("runId"), QStringLiteral("pre-fix"));
    event.insert(QStringLiteral("hypothesisId"), hypothesisId);
    event.insert(QStringLiteral("location"), location);
    event.insert(QStringLiteral("msg"), message);
    event.insert(QStringLiteral("data"), data);
    event.insert(QStringLiteral("ts"), QDateTime::currentMSecsSinceEpoch());
    const QByteArray body = QJsonDocument(event).toJson(QJsonDocument::Compact);
    if (body.isEmpty())
        return;
    DebugEventSender::post(url, body);
}
