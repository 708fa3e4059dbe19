#include "asr/ParaformerStreamingSession.h"

#include "asr/DashScopeErrorMessage.h"
#include "base/Logging.h"
#include "net/VoxleServerApi.h"

#include <QJsonDocument>
#include <QNetworkRequest>
#include <QPointer>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QUuid>
#include <QWebSocket>

namespace {
// Sentence terminators, in the order they are checked.
const QStringList sentenceTerminators = {QStringLiteral("。"), QStringLiteral("！"), QStringLiteral("？"),
                                         QStringLiteral("."),  QStringLiteral("!"),  QStringLiteral("?")};

// Above this many unsent bytes in the socket, audio stays in the bounded queue until the network takes more;
// so a stalled connection backs up into the queue (which drops the oldest audio) instead of an unbounded buffer.
constexpr qint64 maxBytesInSocket = 64 * 1024;

std::optional<bool> boolAt(const QJsonObject &object, const QString &key)
{
    const QJsonValue v = object.value(key);
    if (v.isBool())
        return v.toBool();
    return std::nullopt;
}

QString newTaskId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().remove(QLatin1Char('-'));
}

QString errorText(const QString &message)
{
    return QStringLiteral("[错误: ") + message + QStringLiteral("]");
}
} // namespace

ParaformerStreamingSession::ParaformerStreamingSession(Clock &clock, const QUrl &endpoint, const QString &apiKey,
                                                       const QString &model, int sampleRate,
                                                       const std::optional<QStringList> &languageHints, QObject *parent)
    : QObject(parent), m_clock(clock), m_endpoint(endpoint), m_apiKey(apiKey), m_model(model), m_sampleRate(sampleRate),
      m_languageHints(languageHints), m_taskId(newTaskId())
{
}

ParaformerStreamingSession::~ParaformerStreamingSession()
{
    m_clock.cancelTimer(m_upgradeTimer);
    if (m_ws) {
        disconnect(m_ws, nullptr, this, nullptr);
        m_ws->abort();
    }
    m_lifetime.cancel();
}

int ParaformerStreamingSession::state() const
{
    switch (m_phase) {
    case Phase::created:
        return -1;
    case Phase::connecting:
    case Phase::taskPending:
        return 0;
    case Phase::streaming:
        return 1;
    case Phase::finishing:
    case Phase::finished:
        return 2;
    case Phase::closed:
    case Phase::cancelled:
        break;
    }
    return 3;
}

QString ParaformerStreamingSession::currentText() const
{
    QStringList parts;
    if (!m_finalSegments.isEmpty())
        parts << m_finalSegments.join(QLatin1Char(' '));
    if (!m_partialText.isEmpty())
        parts << m_partialText;
    return parts.join(QLatin1Char(' ')).trimmed();
}

bool ParaformerStreamingSession::linkOpen() const
{
    return m_ws && m_phase >= Phase::taskPending && m_phase <= Phase::finishing;
}

bool ParaformerStreamingSession::receiving() const
{
    return m_phase >= Phase::connecting && m_phase <= Phase::finishing;
}

void ParaformerStreamingSession::setPhase(Phase phase)
{
    if (m_phase == phase)
        return;
    m_phase = phase;
    wakeWaiters();
}

QCoro::Task<bool> ParaformerStreamingSession::nextChange()
{
    QPointer<ParaformerStreamingSession> self(this);
    OneShot<bool> changed;
    m_waiters.push_back(changed);
    const std::optional<bool> woken = co_await changed.wait(m_lifetime);
    co_return self &&woken.has_value();
}

void ParaformerStreamingSession::wakeWaiters()
{
    std::vector<OneShot<bool>> woken;
    woken.swap(m_waiters);
    for (const OneShot<bool> &w : woken)
        w.resolve(true);
}

// ---- connection -------------------------------------------------------------------------------------------

QCoro::Task<> ParaformerStreamingSession::start()
{
    QPointer<ParaformerStreamingSession> self(this);
    if (m_phase != Phase::created)
        co_return;
    VoxleServerApi::useSystemProxy();
    setPhase(Phase::connecting);

    QNetworkRequest request(m_endpoint);
    request.setTransferTimeout(static_cast<int>(upgradeTimeoutMs));
    request.setRawHeader("Authorization", "Bearer " + m_apiKey.toUtf8());
    m_ws = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    if (m_sslConfiguration)
        m_ws->setSslConfiguration(*m_sslConfiguration);
    connect(m_ws, &QWebSocket::connected, this, &ParaformerStreamingSession::onConnected);
    connect(m_ws, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
            &ParaformerStreamingSession::onSocketError);
    connect(m_ws, &QWebSocket::disconnected, this, &ParaformerStreamingSession::onDisconnected);
    connect(m_ws, &QWebSocket::textMessageReceived, this, &ParaformerStreamingSession::receiveText);
    connect(m_ws, &QWebSocket::binaryMessageReceived, this, &ParaformerStreamingSession::onBinaryMessage);
    connect(m_ws, &QWebSocket::bytesWritten, this, &ParaformerStreamingSession::pumpAudio);
    // The upgrade may take at most 30 s, on our clock.
    m_upgradeTimer = m_clock.schedule(upgradeTimeoutMs, [this]() {
        if (m_phase == Phase::connecting)
            markGone(ConnectionError{QAbstractSocket::SocketTimeoutError, 0, QStringLiteral("upgrade timed out")});
    });
    m_ws->open(request);
    qCInfo(lcRealtimeASR, "WS start: resumed");
    qCInfo(lcRealtimeASR, "WS wait for ready...");

    // Returns once the upgrade has succeeded or failed; a refusal reaches the owner through finalize.
    while (m_phase == Phase::connecting) {
        if (!co_await nextChange())
            co_return;
    }
}

void ParaformerStreamingSession::onConnected()
{
    m_clock.cancelTimer(m_upgradeTimer);
    if (m_phase != Phase::connecting)
        return;
    setPhase(Phase::taskPending);
    qCInfo(lcRealtimeASR, "WS is ready.");
    qCInfo(lcRealtimeASR, "WS sending run-task");
    // Written here, before anything else can reach the socket: run-task is always the first frame.
    sendJSON(runTaskMessage());
}

QJsonObject ParaformerStreamingSession::runTaskMessage() const
{
    // The heartbeat keeps the task alive through long pauses in speech.
    const QJsonObject parameters{{QStringLiteral("sample_rate"), m_sampleRate},
                                 {QStringLiteral("format"), QStringLiteral("pcm")},
                                 {QStringLiteral("heartbeat"), true}};
    return QJsonObject{
        {QStringLiteral("header"), QJsonObject{{QStringLiteral("action"), QStringLiteral("run-task")},
                                               {QStringLiteral("task_id"), m_taskId},
                                               {QStringLiteral("streaming"), QStringLiteral("duplex")}}},
        {QStringLiteral("payload"), QJsonObject{{QStringLiteral("task_group"), QStringLiteral("audio")},
                                                {QStringLiteral("task"), QStringLiteral("asr")},
                                                {QStringLiteral("function"), QStringLiteral("recognition")},
                                                {QStringLiteral("model"), m_model},
                                                {QStringLiteral("parameters"), parameters},
                                                {QStringLiteral("input"), QJsonObject()}}},
    };
}

void ParaformerStreamingSession::onSocketError(QAbstractSocket::SocketError error)
{
    ConnectionError e{error, 0, m_ws ? m_ws->errorString() : QString()};
    // A refused upgrade only shows in the error text, e.g. "... Unhandled http status code: 401 (Unauthorized).".
    static const QRegularExpression statusPattern(QStringLiteral("http status code: (\\d+)"));
    const QRegularExpressionMatch match = statusPattern.match(e.detail);
    if (match.hasMatch())
        e.httpStatus = match.captured(1).toInt();
    markGone(e);
}

void ParaformerStreamingSession::onDisconnected()
{
    // Closed by the peer without an error: nothing more can arrive either.
    markGone(ConnectionError{QAbstractSocket::RemoteHostClosedError, 0,
                             m_ws && !m_ws->closeReason().isEmpty() ? m_ws->closeReason()
                                                                    : QStringLiteral("connection closed")});
}

void ParaformerStreamingSession::markGone(const ConnectionError &error)
{
    m_clock.cancelTimer(m_upgradeTimer);
    if (m_ws && m_ws->state() != QAbstractSocket::UnconnectedState) {
        disconnect(m_ws, nullptr, this, nullptr);
        m_ws->abort();
    }
    if (!receiving())
        return;
    if (!m_connectionError)
        m_connectionError = error;
    const long code = static_cast<long>(error.httpStatus ? error.httpStatus : error.socketError);
    const char *domain = error.httpStatus ? "HTTP" : "QAbstractSocket";
    if (!m_pendingAudioChunks.empty() && m_phase >= Phase::streaming)
        qCCritical(lcRealtimeASR, "WS flushPendingAudio error domain=%s code=%ld desc=%s", domain, code,
                   qUtf8Printable(error.detail));
    qCCritical(lcRealtimeASR, "WS receiveLoop error domain=%s code=%ld desc=%s", domain, code,
               qUtf8Printable(error.detail));
    endReceiving();
}

void ParaformerStreamingSession::closeSocket()
{
    m_clock.cancelTimer(m_upgradeTimer);
    if (m_ws) {
        QWebSocket *ws = m_ws;
        m_ws = nullptr;
        disconnect(ws, nullptr, this, nullptr);
        ws->close(QWebSocketProtocol::CloseCodeGoingAway);
        ws->deleteLater();
    }
}

// ---- sending -----------------------------------------------------------------------------------------------

bool ParaformerStreamingSession::sendJSON(const QJsonObject &message)
{
    if (!linkOpen())
        return false;
    const QByteArray json = QJsonDocument(message).toJson(QJsonDocument::Compact);
    qCInfo(lcRealtimeASR, "WS JSON sent: %s", json.constData());
    printTrace(lcRealtimeASR(), "[ParaformerWS] send " + json);
    m_ws->sendTextMessage(QString::fromUtf8(json));
    return true;
}

void ParaformerStreamingSession::appendAudio(const QByteArray &chunk)
{
    if (chunk.isEmpty() || m_phase >= Phase::finishing)
        return;
    m_pcmStaging.append(chunk);
    qsizetype offset = 0;
    while (m_pcmStaging.size() - offset >= frameBytes) {
        enqueueAudio(m_pcmStaging.mid(offset, frameBytes));
        offset += frameBytes;
    }
    if (offset > 0)
        m_pcmStaging.remove(0, offset);
}

void ParaformerStreamingSession::enqueueAudio(const QByteArray &frame)
{
    // Checked before the append: a stalled connection keeps the newest 10 s (plus at most one frame).
    while (!m_pendingAudioChunks.empty() && m_pendingAudioBytes >= sendQueueLimitBytes) {
        m_pendingAudioBytes -= m_pendingAudioChunks.front().size();
        m_pendingAudioChunks.pop_front();
    }
    m_pendingAudioChunks.push_back(frame);
    m_pendingAudioBytes += frame.size();
}

void ParaformerStreamingSession::flushStaging()
{
    if (m_pcmStaging.isEmpty())
        return;
    enqueueAudio(m_pcmStaging);
    m_pcmStaging.clear();
}

void ParaformerStreamingSession::dropAudio()
{
    m_pendingAudioChunks.clear();
    m_pendingAudioBytes = 0;
    m_pcmStaging.clear();
}

void ParaformerStreamingSession::startSendingIfNeeded()
{
    pumpAudio();
}

void ParaformerStreamingSession::pumpAudio()
{
    // Audio goes out only once the service has started the task.
    if ((m_phase != Phase::streaming && m_phase != Phase::finishing) || !m_ws || m_pendingAudioChunks.empty())
        return;
    while (!m_pendingAudioChunks.empty() && m_ws->bytesToWrite() <= maxBytesInSocket) {
        m_pendingAudioBytes -= m_pendingAudioChunks.front().size();
        m_ws->sendBinaryMessage(m_pendingAudioChunks.front());
        m_pendingAudioChunks.pop_front();
    }
    if (m_pendingAudioChunks.empty())
        wakeWaiters();
}

// ---- receiving ---------------------------------------------------------------------------------------------

void ParaformerStreamingSession::receiveText(const QString &text)
{
    // Frames can only come from an open socket; after the end nothing more is taken.
    if (m_phase >= Phase::finished)
        return;
    if (text.isEmpty()) {
        qCInfo(lcRealtimeASR, "WS receive empty message");
        endReceiving();
        return;
    }
    handleMessage(text);
}

void ParaformerStreamingSession::onBinaryMessage(const QByteArray &data)
{
    if (!receiving())
        return;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(data);
    if (decoder.hasError()) {
        qCCritical(lcRealtimeASR, "WS receive binary data could not be parsed to string: %ld bytes",
                   static_cast<long>(data.size()));
        endReceiving();
        return;
    }
    receiveText(text);
}

void ParaformerStreamingSession::endReceiving()
{
    if (m_phase >= Phase::finished)
        return;
    qCInfo(lcRealtimeASR, "WS receiveLoop exited");
    dropAudio();
    setPhase(Phase::closed);
}

QString ParaformerStreamingSession::textAfterConnectionLoss() const
{
    const QString text = currentText();
    if (!text.isEmpty() || !m_connectionError)
        return text;
    const ConnectionError &e = *m_connectionError;
    return errorText(
        dashScopeErrorMessage(static_cast<QAbstractSocket::SocketError>(e.socketError), e.detail, e.httpStatus));
}

void ParaformerStreamingSession::handleMessage(const QString &text)
{
    qCInfo(lcRealtimeASR, "WS raw JSON received: %s", qUtf8Printable(text));
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8());
    if (!doc.isObject())
        return;
    const QJsonObject root = doc.object();
    const QJsonValue headerValue = root.value(QStringLiteral("header"));
    if (!headerValue.isObject())
        return;
    const QJsonObject header = headerValue.toObject();
    const QJsonValue eventValue = header.value(QStringLiteral("event"));
    if (!eventValue.isString())
        return;
    const QString event = eventValue.toString();

    if (event == QStringLiteral("task-started")) {
        qCInfo(lcRealtimeASR, "WS task started");
        if (m_phase == Phase::taskPending) {
            setPhase(Phase::streaming);
            pumpAudio();
        }
    } else if (event == QStringLiteral("result-generated") || event == QStringLiteral("sentence-end")) {
        const QJsonValue payload = root.value(QStringLiteral("payload"));
        if (payload.isObject())
            handleSentence(event, payload.toObject());
    } else if (event == QStringLiteral("task-finished")) {
        setPhase(Phase::finished);
    } else if (event == QStringLiteral("task-failed")) {
        handleTaskFailed(header);
    }
}

void ParaformerStreamingSession::handleSentence(const QString &event, const QJsonObject &payload)
{
    const QJsonValue outputValue = payload.value(QStringLiteral("output"));
    if (!outputValue.isObject())
        return;
    const QJsonObject output = outputValue.toObject();
    const QJsonValue sentenceValue = output.value(QStringLiteral("sentence"));
    if (!sentenceValue.isObject())
        return;
    const QJsonObject sentence = sentenceValue.toObject();
    const QJsonValue textValue = sentence.value(QStringLiteral("text"));
    if (!textValue.isString())
        return;

    // The service marks a finished sentence itself; without that flag a sentence lacking end punctuation would
    // be dropped when the next one starts.
    const std::optional<bool> sentenceFlag = boolAt(sentence, QStringLiteral("sentence_end"));
    if (sentenceFlag)
        m_serviceMarksSentenceEnds = true;
    bool end = false;
    if (event == QStringLiteral("sentence-end"))
        end = true;
    else if (const auto flag = boolAt(payload, QStringLiteral("is_sentence_end")))
        end = *flag;
    else if (const auto outputFlag = boolAt(output, QStringLiteral("is_sentence_end")))
        end = *outputFlag;
    else if (sentenceFlag)
        end = *sentenceFlag;

    const QString text = textValue.toString().trimmed();
    if (text.isEmpty())
        return;
    if (end) {
        m_partialText.clear();
        appendFinalSegment(text);
    } else {
        // A service that flags its sentence ends may still rewrite a punctuated partial: no guessing then.
        if (!m_serviceMarksSentenceEnds)
            commitPartialIfSentenceEnded(text);
        m_partialText = text;
    }
    const QString combined = currentText();
    if (!combined.isEmpty() && onPartialUpdated)
        onPartialUpdated(combined);
}

void ParaformerStreamingSession::handleTaskFailed(const QJsonObject &header)
{
    const QJsonValue messageValue = header.value(QStringLiteral("error_message"));
    QString message = messageValue.isString() ? messageValue.toString() : QStringLiteral("Unknown error");
    const QJsonValue codeValue = header.value(QStringLiteral("error_code"));
    if (codeValue.isString()) {
        const QString code = codeValue.toString();
        if (code == QStringLiteral("NO_VALID_AUDIO_ERROR"))
            message = QStringLiteral("音频过短或全静音，无法识别。");
        else if (code == QStringLiteral("InvalidParameter.Format"))
            message = QStringLiteral("音频格式参数错误。");
        else
            message = QStringLiteral("[") + code + QStringLiteral("] ") + message;
    }
    if (m_finalSegments.isEmpty() && m_partialText.isEmpty())
        m_partialText = errorText(message);
    dropAudio();
    setPhase(Phase::closed);
}

void ParaformerStreamingSession::appendFinalSegment(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return;
    if (!m_finalSegments.isEmpty() && m_finalSegments.last() == t)
        return;
    m_finalSegments << t;
}

void ParaformerStreamingSession::commitPartialIfSentenceEnded(const QString &newText)
{
    const QString old = m_partialText.trimmed();
    const QString now = newText.trimmed();
    if (old.isEmpty() || old == now || now.contains(old) || old.contains(now))
        return;
    for (const QString &terminator : sentenceTerminators) {
        if (old.endsWith(terminator)) {
            appendFinalSegment(old);
            return;
        }
    }
}

// ---- finishing ---------------------------------------------------------------------------------------------

QCoro::Task<std::optional<QString>> ParaformerStreamingSession::finalize(qint64 timeoutMs)
{
    QPointer<ParaformerStreamingSession> self(this);
    if (m_phase == Phase::created)
        co_return std::nullopt;

    // The timeout bounds the whole call: waiting for the task to start, for a stalled connection to take the
    // last frames, and for the final text.
    auto expired = std::make_shared<bool>(false);
    const Clock::TimerId deadline = m_clock.schedule(timeoutMs, [self, expired]() {
        *expired = true;
        if (self)
            self->wakeWaiters();
    });
    const auto done = [this, self, deadline](std::optional<QString> text) {
        if (self)
            m_clock.cancelTimer(deadline);
        return text;
    };

    while (m_phase == Phase::connecting || m_phase == Phase::taskPending) {
        if (*expired)
            co_return done(errorText(QStringLiteral("未在预期时间内收到 task-started，识别任务没有开始。")));
        if (!co_await nextChange())
            co_return std::nullopt;
    }

    if (m_phase == Phase::streaming) {
        setPhase(Phase::finishing);
        flushStaging();
        pumpAudio();
        // finish-task follows the last frame into the socket.
        while (m_phase == Phase::finishing && !m_pendingAudioChunks.empty() && !*expired) {
            if (!co_await nextChange())
                co_return std::nullopt;
        }
        if (m_phase == Phase::finishing && !*expired) {
            sendJSON(QJsonObject{
                {QStringLiteral("header"), QJsonObject{{QStringLiteral("action"), QStringLiteral("finish-task")},
                                                       {QStringLiteral("task_id"), m_taskId},
                                                       {QStringLiteral("streaming"), QStringLiteral("duplex")}}},
                {QStringLiteral("payload"), QJsonObject{{QStringLiteral("input"), QJsonObject()}}},
            });
            qCInfo(lcRealtimeASR, "WS finalize: session.finish sent");
        }
    }

    while (m_phase == Phase::finishing && !*expired) {
        if (!co_await nextChange())
            co_return std::nullopt;
    }
    switch (m_phase) {
    case Phase::finished:
        co_return done(currentText());
    case Phase::closed:
        co_return done(textAfterConnectionLoss());
    default:
        co_return done(std::nullopt); // past the deadline, or cancelled
    }
}

void ParaformerStreamingSession::cancel()
{
    closeSocket();
    dropAudio();
    m_partialText.clear();
    m_finalSegments.clear();
    qCInfo(lcRealtimeASR, "WS cancel");
    setPhase(Phase::cancelled);
}
