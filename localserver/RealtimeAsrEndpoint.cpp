#include "RealtimeAsrEndpoint.h"

#include "HttpFront.h"
#include "RealtimeAsrConnection.h"
#include "ScriptedRecognitionEngine.h"

#include <QJsonDocument>
#include <QUuid>
#include <QWebSocket>

RealtimeAsrEndpoint::RealtimeAsrEndpoint(HttpFront &front, RecognitionEngine &engine,
                                         ScriptedRecognitionEngine *scripted, const QString &apiKey, QObject *parent)
    : QObject(parent), m_front(front), m_engine(engine), m_scripted(scripted), m_apiKey(apiKey)
{
    const QByteArray expected = "Bearer " + m_apiKey.toUtf8();
    front.webSocketRoute(
        "/api-ws/v1/inference",
        [this, expected](const HttpRequest &request) -> std::optional<HttpResponse> {
            const qint64 forced = m_transport.value(QStringLiteral("upgrade_status")).toInteger(0);
            if (forced == 0 && request.headers.value("authorization") == expected)
                return std::nullopt;
            HttpResponse refusal;
            refusal.status = forced == 403 ? 403 : 401;
            refusal.body =
                QJsonDocument(
                    QJsonObject{
                        {QStringLiteral("code"),
                         refusal.status == 403 ? QStringLiteral("Arrearage") : QStringLiteral("InvalidApiKey")},
                        {QStringLiteral("message"),
                         refusal.status == 403
                             ? QStringLiteral("Access denied, please make sure your account is in good standing.")
                             : QStringLiteral("Invalid API-key provided.")},
                        {QStringLiteral("request_id"), QUuid::createUuid().toString(QUuid::WithoutBraces)},
                    })
                    .toJson(QJsonDocument::Compact);
            return refusal;
        },
        [this](QWebSocket *socket) {
            const int entry = openLogEntry(QString::fromUtf8(socket->request().rawHeader("Authorization")));
            auto *connection = new RealtimeAsrConnection(socket, m_front.tcpSocketOf(socket), *this, m_engine, entry);
            connection->setParent(socket);
        },
        [this]() { return static_cast<int>(m_transport.value(QStringLiteral("upgrade_delay_ms")).toInteger(0)); });

    front.route("POST", "/__control/asr", [this](const HttpRequest &request, Responder respond) {
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(request.body, &error);
        if (!doc.isObject()) {
            respond(HttpResponse{400, "application/json", R"({"message":"script must be a JSON object"})", {}});
            return;
        }
        m_transport = doc.object();
        if (m_scripted)
            m_scripted->setScript(doc.object());
        m_log = QJsonArray();
        respond(HttpResponse{200, "application/json", R"({"ok":true})", {}});
    });
    front.route("GET", "/__control/asr/log", [this](const HttpRequest &, Responder respond) {
        respond(HttpResponse{
            200,
            "application/json",
            QJsonDocument(QJsonObject{{QStringLiteral("connections"), m_log}}).toJson(QJsonDocument::Compact),
            {}});
    });
}

int RealtimeAsrEndpoint::openLogEntry(const QString &authorization)
{
    m_log.append(QJsonObject{{QStringLiteral("authorization"), authorization},
                             {QStringLiteral("messages"), QJsonArray()},
                             {QStringLiteral("closed"), false}});
    return static_cast<int>(m_log.size() - 1);
}

void RealtimeAsrEndpoint::logMessage(int entry, const QJsonObject &message)
{
    if (entry < 0 || entry >= m_log.size())
        return; // the log was cleared by a newer script
    QJsonObject connection = m_log.at(entry).toObject();
    QJsonArray messages = connection.value(QStringLiteral("messages")).toArray();
    messages.append(message);
    connection.insert(QStringLiteral("messages"), messages);
    m_log.replace(entry, connection);
}

void RealtimeAsrEndpoint::logClosed(int entry, int closeCode)
{
    if (entry < 0 || entry >= m_log.size())
        return;
    QJsonObject connection = m_log.at(entry).toObject();
    connection.insert(QStringLiteral("closed"), true);
    connection.insert(QStringLiteral("close_code"), closeCode);
    m_log.replace(entry, connection);
}
