#include "RealtimeAsrConnection.h"

#include "RealtimeAsrEndpoint.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QWebSocket>

namespace {
constexpr qint64 bytesPerSecond = 32000; // 16 kHz mono PCM16
bool knownModel(const QString &model)
{
    return model.startsWith(QStringLiteral("fun-asr-realtime")) ||
           model.startsWith(QStringLiteral("paraformer-realtime"));
}

QString timeoutMessage(qint64 ms)
{
    return QStringLiteral("request timeout after %1 seconds.").arg(ms / 1000);
}
} // namespace

RealtimeAsrConnection::RealtimeAsrConnection(QWebSocket *socket, QTcpSocket *tcp, RealtimeAsrEndpoint &endpoint,
                                             RecognitionEngine &engine, int logEntry)
    : m_socket(socket), m_tcp(tcp), m_endpoint(endpoint), m_engine(engine), m_logEntry(logEntry),
      m_transport(endpoint.transportScript())
{
    m_startTimer.setSingleShot(true);
    m_idleTimer.setSingleShot(true);
    connect(&m_startTimer, &QTimer::timeout, this, &RealtimeAsrConnection::taskStarted);
    connect(&m_idleTimer, &QTimer::timeout, this,
            [this]() { fail(QStringLiteral("CLIENT_ERROR"), timeoutMessage(setting("idle_timeout_ms", 23000))); });
    connect(socket, &QWebSocket::textMessageReceived, this, &RealtimeAsrConnection::onText);
    connect(socket, &QWebSocket::binaryMessageReceived, this, &RealtimeAsrConnection::onBinary);
    connect(socket, &QWebSocket::disconnected, this, [this]() {
        m_endpoint.logClosed(m_logEntry, m_socket->closeCode());
        m_startTimer.stop();
        m_idleTimer.stop();
        m_stream.reset();
        m_socket->deleteLater();
    });
}

qint64 RealtimeAsrConnection::setting(const char *key, qint64 fallback) const
{
    return m_transport.value(QLatin1String(key)).toInteger(fallback);
}

void RealtimeAsrConnection::onText(const QString &text)
{
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8());
    const QJsonObject message = doc.object();
    m_endpoint.logMessage(m_logEntry, QJsonObject{{QStringLiteral("type"), QStringLiteral("text")},
                                                  {QStringLiteral("json"), message},
                                                  {QStringLiteral("raw"), text}});
    if (m_done || m_task == Task::ended)
        return;
    const QJsonObject header = message.value(QStringLiteral("header")).toObject();
    const QJsonObject payload = message.value(QStringLiteral("payload")).toObject();
    const QString action = header.value(QStringLiteral("action")).toString();
    if (action == QStringLiteral("run-task"))
        runTask(header, payload);
    else if (action == QStringLiteral("finish-task"))
        finishTask(header);
    else
        fail(QStringLiteral("InvalidParameter"), QStringLiteral("Invalid message: no known header.action"));
}

void RealtimeAsrConnection::runTask(const QJsonObject &header, const QJsonObject &payload)
{
    if (m_task != Task::none) {
        fail(QStringLiteral("InvalidParameter"), QStringLiteral("task already started"));
        return;
    }
    m_taskId = header.value(QStringLiteral("task_id")).toString();
    static const QRegularExpression taskIdForm(QStringLiteral("^[0-9A-Fa-f]{32}$"));
    const QJsonObject parameters = payload.value(QStringLiteral("parameters")).toObject();
    const QJsonValue sampleRate = parameters.value(QStringLiteral("sample_rate"));
    const QJsonValue heartbeat = parameters.value(QStringLiteral("heartbeat"));
    QString problem;
    if (!taskIdForm.match(m_taskId).hasMatch())
        problem = QStringLiteral("invalid task_id");
    else if (header.value(QStringLiteral("streaming")).toString() != QStringLiteral("duplex"))
        problem = QStringLiteral("header.streaming must be duplex");
    else if (payload.value(QStringLiteral("task_group")).toString() != QStringLiteral("audio") ||
             payload.value(QStringLiteral("task")).toString() != QStringLiteral("asr") ||
             payload.value(QStringLiteral("function")).toString() != QStringLiteral("recognition"))
        problem = QStringLiteral("unsupported task_group/task/function");
    else if (!payload.value(QStringLiteral("input")).isObject())
        problem = QStringLiteral("Invalid payload data");
    else if (!heartbeat.isUndefined() && !heartbeat.isBool())
        problem = QStringLiteral("heartbeat must be a boolean");
    if (!problem.isEmpty()) {
        fail(QStringLiteral("InvalidParameter"), problem);
        return;
    }
    if (!knownModel(payload.value(QStringLiteral("model")).toString())) {
        fail(QStringLiteral("ModelNotFound"), QStringLiteral("Model not exist."));
        return;
    }
    if (parameters.value(QStringLiteral("format")).toString() != QStringLiteral("pcm") || !sampleRate.isDouble() ||
        sampleRate.toDouble() != 16000) {
        fail(QStringLiteral("InvalidParameter.Format"), QStringLiteral("format must be pcm at 16000 Hz"));
        return;
    }
    m_heartbeat = heartbeat.toBool(false);
    m_task = Task::starting;
    m_stream = m_engine.openStream(16000);
    connect(m_stream.get(), &RecognitionStream::result, this, &RealtimeAsrConnection::onResult);
    connect(m_stream.get(), &RecognitionStream::finished, this, [this]() {
        m_task = Task::none; // the socket stays open and may carry another task
        sendEvent(QStringLiteral("task-finished"),
                  QJsonObject{{QStringLiteral("output"), QJsonObject()}, {QStringLiteral("usage"), QJsonValue::Null}});
        m_stream.release()->deleteLater();
    });
    connect(m_stream.get(), &RecognitionStream::failed, this,
            [this](const QString &code, const QString &msg) { fail(code, msg); });
    if (m_transport.contains(QStringLiteral("drop_after_bytes")) && setting("drop_after_bytes", 0) <= 0) {
        drop();
        return;
    }
    if (m_transport.value(QStringLiteral("no_task_started")).toBool())
        return;
    m_startTimer.start(static_cast<int>(setting("task_started_delay_ms", 300)));
}

void RealtimeAsrConnection::taskStarted()
{
    if (m_done || m_task != Task::starting)
        return;
    m_task = Task::started;
    sendEvent(QStringLiteral("task-started"), QJsonObject());
    for (const QJsonValue &raw : m_transport.value(QStringLiteral("raw_after_start")).toArray())
        m_socket->sendTextMessage(raw.toString());
    for (const QJsonValue &raw : m_transport.value(QStringLiteral("binary_after_start_base64")).toArray())
        m_socket->sendBinaryMessage(QByteArray::fromBase64(raw.toString().toLatin1()));
    m_idleTimer.start(static_cast<int>(setting("idle_timeout_ms", 23000)));
    if (m_transport.value(QStringLiteral("stall_reader")).toBool() && m_tcp) {
        // Stop taking bytes off the connection: the kernel buffers fill and the client's sends back up.
        m_tcp->setReadBufferSize(4096);
        m_tcp->blockSignals(true);
    }
}

void RealtimeAsrConnection::finishTask(const QJsonObject &header)
{
    if (m_task == Task::none || m_task == Task::finishing) {
        fail(QStringLiteral("InvalidParameter"), QStringLiteral("finish-task without a running task"));
        return;
    }
    if (m_task == Task::starting) {
        fail(QStringLiteral("CLIENT_ERROR"), QStringLiteral("finish-task sent before task-started"));
        return;
    }
    if (header.value(QStringLiteral("task_id")).toString() != m_taskId) {
        fail(QStringLiteral("InvalidParameter"), QStringLiteral("task_id does not match the running task"));
        return;
    }
    m_idleTimer.stop();
    m_task = Task::finishing;
    if (m_audioBytes == 0) {
        fail(QStringLiteral("NO_INPUT_AUDIO_ERROR"), QStringLiteral("no input audio"));
        return;
    }
    if (!m_heardSound) {
        fail(QStringLiteral("NO_VALID_AUDIO_ERROR"), QStringLiteral("no valid audio"));
        return;
    }
    if (m_transport.value(QStringLiteral("drop_on_finish")).toBool()) {
        drop();
        return;
    }
    m_stream->finish();
}

void RealtimeAsrConnection::onBinary(const QByteArray &data)
{
    m_endpoint.logMessage(m_logEntry, QJsonObject{{QStringLiteral("type"), QStringLiteral("binary")},
                                                  {QStringLiteral("size"), data.size()}});
    if (m_done || m_task == Task::ended)
        return;
    if (m_task == Task::none || m_task == Task::starting) {
        fail(QStringLiteral("CLIENT_ERROR"), QStringLiteral("audio data sent before task-started"));
        return;
    }
    if (m_task != Task::started)
        return; // after finish-task
    if (data.size() > setting("max_frame_bytes", 64 * 1024)) {
        fail(QStringLiteral("InvalidParameter"), QStringLiteral("audio frame too large"));
        return;
    }
    m_idleTimer.start(static_cast<int>(setting("idle_timeout_ms", 23000)));
    m_audioBytes += data.size();
    if (isSilentPcm(data)) {
        m_silentBytes += data.size();
        const qint64 limitMs = setting("silence_timeout_ms", 60000);
        if (!m_heartbeat && m_silentBytes * 1000 / bytesPerSecond >= limitMs) {
            fail(QStringLiteral("CLIENT_ERROR"), timeoutMessage(limitMs));
            return;
        }
    } else {
        m_silentBytes = 0;
        m_heardSound = true;
    }
    if (m_transport.contains(QStringLiteral("drop_after_bytes")) && m_audioBytes >= setting("drop_after_bytes", 0)) {
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
    const QJsonValue usage =
        result.sentenceEnd ? QJsonValue(QJsonObject{{QStringLiteral("duration"), m_audioBytes / bytesPerSecond + 1}})
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
    m_endpoint.logMessage(
        m_logEntry, QJsonObject{{QStringLiteral("type"), QStringLiteral("sent")}, {QStringLiteral("event"), event}});
    m_socket->sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

void RealtimeAsrConnection::fail(const QString &code, const QString &message)
{
    sendEvent(QStringLiteral("task-failed"), QJsonObject(),
              QJsonObject{{QStringLiteral("error_code"), code}, {QStringLiteral("error_message"), message}});
    m_done = true;
    m_task = Task::ended;
    m_startTimer.stop();
    m_idleTimer.stop();
    if (m_stream)
        m_stream.release()->deleteLater(); // may be the sender of the signal being handled
    m_socket->close(QWebSocketProtocol::CloseCodeNormal);
}

void RealtimeAsrConnection::drop()
{
    m_task = Task::ended;
    m_startTimer.stop();
    m_idleTimer.stop();
    // Results already under way still go out; then the connection is cut without a close frame.
    QTimer::singleShot(100, this, [this]() {
        m_done = true;
        if (m_stream)
            m_stream.release()->deleteLater();
        if (m_tcp) {
            m_tcp->blockSignals(false);
            m_tcp->abort();
        } else {
            m_socket->abort();
        }
    });
}
