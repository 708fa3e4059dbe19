#include "RealtimeAsrConnection.h"

#include "RealtimeAsrEndpoint.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>
#include <QWebSocket>

RealtimeAsrConnection::RealtimeAsrConnection(QWebSocket *socket, QTcpSocket *tcp, RealtimeAsrEndpoint &endpoint,
                                             RecognitionEngine &engine, int logEntry)
    : m_socket(socket), m_tcp(tcp), m_endpoint(endpoint), m_engine(engine), m_logEntry(logEntry),
      m_transport(endpoint.transportScript())
{
    connect(socket, &QWebSocket::textMessageReceived, this, &RealtimeAsrConnection::onText);
    connect(socket, &QWebSocket::binaryMessageReceived, this, &RealtimeAsrConnection::onBinary);
    connect(socket, &QWebSocket::disconnected, this, [this]() {
        m_endpoint.logClosed(m_logEntry);
        m_stream.reset();
        m_socket->deleteLater();
    });
}

void RealtimeAsrConnection::onText(const QString &text)
{
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8());
    const QJsonObject message = doc.object();
    m_endpoint.logMessage(m_logEntry, QJsonObject{{QStringLiteral("type"), QStringLiteral("text")},
                                                  {QStringLiteral("json"), message},
                                                  {QStringLiteral("raw"), text}});
    if (m_done)
        return;
    const QJsonObject header = message.value(QStringLiteral("header")).toObject();
    const QJsonObject payload = message.value(QStringLiteral("payload")).toObject();
    const QString action = header.value(QStringLiteral("action")).toString();
    if (action == QStringLiteral("run-task")) {
        m_taskId = header.value(QStringLiteral("task_id")).toString();
        if (m_stream) {
            fail(QStringLiteral("InvalidParameter"), QStringLiteral("task already started"));
            return;
        }
        if (!payload.value(QStringLiteral("input")).isObject()) {
            fail(QStringLiteral("InvalidParameter"), QStringLiteral("Invalid payload data"));
            return;
        }
        const QJsonObject parameters = payload.value(QStringLiteral("parameters")).toObject();
        m_stream = m_engine.openStream(parameters.value(QStringLiteral("sample_rate")).toInt(16000));
        connect(m_stream.get(), &RecognitionStream::result, this, &RealtimeAsrConnection::onResult);
        connect(m_stream.get(), &RecognitionStream::finished, this, [this]() {
            sendEvent(QStringLiteral("task-finished"), QJsonObject{{QStringLiteral("output"), QJsonObject()},
                                                                   {QStringLiteral("usage"), QJsonValue::Null}});
        });
        connect(m_stream.get(), &RecognitionStream::failed, this,
                [this](const QString &code, const QString &msg) { fail(code, msg); });
        if (m_transport.contains(QStringLiteral("drop_after_bytes")) &&
            m_transport.value(QStringLiteral("drop_after_bytes")).toInteger() <= 0) {
            drop();
            return;
        }
        if (!m_transport.value(QStringLiteral("no_task_started")).toBool())
            sendEvent(QStringLiteral("task-started"), QJsonObject());
        for (const QJsonValue &raw : m_transport.value(QStringLiteral("raw_after_start")).toArray())
            m_socket->sendTextMessage(raw.toString());
        if (m_transport.value(QStringLiteral("stall_reader")).toBool() && m_tcp) {
            // Stop taking bytes off the connection: the kernel buffers fill and the client's sends back up.
            m_tcp->setReadBufferSize(4096);
            m_tcp->blockSignals(true);
        }
    } else if (action == QStringLiteral("finish-task")) {
        if (!m_stream) {
            fail(QStringLiteral("InvalidParameter"), QStringLiteral("finish-task before run-task"));
            return;
        }
        if (m_transport.value(QStringLiteral("drop_on_finish")).toBool()) {
            drop();
            return;
        }
        m_stream->finish();
    }
}

void RealtimeAsrConnection::onBinary(const QByteArray &data)
{
    m_endpoint.logMessage(m_logEntry, QJsonObject{{QStringLiteral("type"), QStringLiteral("binary")},
                                                  {QStringLiteral("size"), data.size()}});
    if (m_done || !m_stream)
        return;
    m_audioBytes += data.size();
    if (m_transport.contains(QStringLiteral("drop_after_bytes")) &&
        m_audioBytes >= m_transport.value(QStringLiteral("drop_after_bytes")).toInteger()) {
        drop();
        return;
    }
    m_stream->feed(data);
}

void RealtimeAsrConnection::onResult(const RecognitionResult &result)
{
    QJsonObject sentence{
        {QStringLiteral("begin_time"), result.beginTimeMs},
        {QStringLiteral("end_time"),
         result.endTimeMs < 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(result.endTimeMs)},
        {QStringLiteral("text"), result.text},
        {QStringLiteral("sentence_end"), result.sentenceEnd},
        {QStringLiteral("sentence_id"), m_sentenceId + 1},
        {QStringLiteral("words"), QJsonArray()},
    };
    if (result.sentenceEnd)
        ++m_sentenceId;
    const QJsonValue usage = result.sentenceEnd
                                 ? QJsonValue(QJsonObject{{QStringLiteral("duration"), m_audioBytes / 32000 + 1}})
                                 : QJsonValue(QJsonValue::Null);
    sendEvent(QStringLiteral("result-generated"),
              QJsonObject{{QStringLiteral("output"), QJsonObject{{QStringLiteral("sentence"), sentence}}},
                          {QStringLiteral("usage"), usage}});
}

void RealtimeAsrConnection::sendEvent(const QString &event, const QJsonObject &payload, const QJsonObject &extraHeader)
{
    if (m_done)
        return;
    QJsonObject header = extraHeader;
    header.insert(QStringLiteral("task_id"), m_taskId);
    header.insert(QStringLiteral("event"), event);
    header.insert(QStringLiteral("attributes"), QJsonObject());
    const QJsonObject message{{QStringLiteral("header"), header}, {QStringLiteral("payload"), payload}};
    m_socket->sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

void RealtimeAsrConnection::fail(const QString &code, const QString &message)
{
    sendEvent(QStringLiteral("task-failed"), QJsonObject(),
              QJsonObject{{QStringLiteral("error_code"), code}, {QStringLiteral("error_message"), message}});
    m_done = true;
    m_stream.reset();
    m_socket->close(QWebSocketProtocol::CloseCodeNormal);
}

void RealtimeAsrConnection::drop()
{
    m_done = true;
    m_stream.reset();
    // Let the events already sent reach the client first, then cut the connection without a close frame.
    m_socket->flush();
    QTimer::singleShot(100, this, [this]() {
        if (m_tcp) {
            m_tcp->blockSignals(false);
            m_tcp->abort();
        } else {
            m_socket->abort();
        }
    });
}
