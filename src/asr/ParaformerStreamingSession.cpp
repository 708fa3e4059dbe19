#include "asr/ParaformerStreamingSession.h"

#include "asr/DashScopeErrorMessage.h"
#include "base/Logging.h"

#include <QJsonDocument>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QUuid>
#include <QWebSocket>
#include <cstdio>

namespace {
// Sentence terminators, in the order they are checked.
const QStringList sentenceTerminators = {QStringLiteral("。"), QStringLiteral("！"), QStringLiteral("？"),
                                         QStringLiteral("."),  QStringLiteral("!"),  QStringLiteral("?")};

// Above this many unsent bytes in the socket a send waits for the network, like a send awaiting completion; so
// a stalled connection backs up into the bounded queue instead of an unbounded socket buffer.
constexpr qint64 maxBytesInSocket = 64 * 1024;

QString trimmed(const QString &text)
{
    return text.trimmed();
}

std::optional<bool> boolAt(const QJsonObject &object, const QString &key)
{
    const QJsonValue v = object.value(key);
    if (v.isBool())
        return v.toBool();
    return std::nullopt;
}

// Suspends until the next turn of the event loop.
struct NextTurn {
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle) const { resumeLater(handle); }
    void await_resume() const noexcept {}
};

QString newTaskId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().remove(QLatin1Char('-'));
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
    if (m_upgradeTimer)
        m_clock.cancelTimer(m_upgradeTimer);
    if (m_finalizeTimer)
        m_clock.cancelTimer(m_finalizeTimer);
    if (m_ws) {
        disconnect(m_ws, nullptr, this, nullptr);
        m_ws->abort();
    }
    m_lifetime.cancel();
}

QString ParaformerStreamingSession::currentText() const
{
    QStringList parts;
    if (!m_finalSegments.isEmpty())
        parts << m_finalSegments.join(QLatin1Char(' '));
    if (!m_partialText.isEmpty())
        parts << m_partialText;
    return trimmed(parts.join(QLatin1Char(' ')));
}

// ---- connection -------------------------------------------------------------------------------------------

QCoro::Task<> ParaformerStreamingSession::start()
{
    QPointer<ParaformerStreamingSession> self(this);
    m_state = 0;

    QNetworkRequest request(m_endpoint);
    request.setTransferTimeout(static_cast<int>(upgradeTimeoutMs));
    request.setRawHeader("Authorization", "Bearer " + m_apiKey.toUtf8());
    m_ws = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    connect(m_ws, &QWebSocket::connected, this, &ParaformerStreamingSession::onConnected);
    connect(m_ws, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
            &ParaformerStreamingSession::onSocketError);
    connect(m_ws, &QWebSocket::disconnected, this, &ParaformerStreamingSession::onDisconnected);
    connect(m_ws, &QWebSocket::textMessageReceived, this, &ParaformerStreamingSession::onTextMessage);
    connect(m_ws, &QWebSocket::binaryMessageReceived, this, &ParaformerStreamingSession::onBinaryMessage);
    m_link = Link::connecting;
    m_receiving = true;
    // The upgrade may take at most 30 s, on our clock.
    m_upgradeTimer = m_clock.schedule(upgradeTimeoutMs, [this]() {
        m_upgradeTimer = 0;
        if (m_link == Link::connecting) {
            ConnectionError timedOut{QAbstractSocket::SocketTimeoutError, 0, QStringLiteral("upgrade timed out")};
            markGone(timedOut);
        }
    });
    m_ws->open(request);
    qCInfo(lcRealtimeASR, "WS start: resumed");

    qCInfo(lcRealtimeASR, "WS wait for ready...");
    // Readiness races a 2 s bound: the first side to finish decides.
    OneShot<bool> ready;
    CancelToken readyTimer;
    const Clock::TimerId timer = m_clock.schedule(readyTimeoutMs, [ready]() { ready.resolve(false); });
    readinessStep(ready);
    const std::optional<bool> outcome = co_await ready.wait(m_lifetime);
    if (!self)
        co_return;
    m_clock.cancelTimer(timer);
    if (!outcome || !*outcome) {
        StartError timeout;
        timeout.kind = StartError::Kind::timeout;
        throw timeout;
    }

    qCInfo(lcRealtimeASR, "WS is ready.");
    qCInfo(lcRealtimeASR, "WS sending run-task");
    QJsonObject parameters{{QStringLiteral("sample_rate"), m_sampleRate},
                           {QStringLiteral("format"), QStringLiteral("pcm")}};
    QJsonObject runTask{
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
    co_await sendJSON(runTask); // a failed run-task is not the caller's concern; the receive side reports it
    if (!self)
        co_return;
    startSendingIfNeeded();
}

QCoro::Task<> ParaformerStreamingSession::readinessStep(OneShot<bool> ready)
{
    QPointer<ParaformerStreamingSession> self(this);
    // Ready as soon as this runs on the session, without waiting for any server event.
    co_await NextTurn{};
    if (!self)
        co_return;
    if (m_state == 0)
        m_state = 1;
    ready.resolve(true);
}

bool ParaformerStreamingSession::wsRunning() const
{
    return m_ws && (m_link == Link::connecting || m_link == Link::open);
}

QCoro::Task<bool> ParaformerStreamingSession::awaitOpen()
{
    if (m_link == Link::open && m_ws)
        co_return true;
    if (!wsRunning())
        co_return false;
    OneShot<bool> opened;
    m_openWaiters.push_back(opened);
    const std::optional<bool> result = co_await opened.wait(m_lifetime);
    co_return result.value_or(false);
}

QCoro::Task<bool> ParaformerStreamingSession::awaitDrained()
{
    QPointer<ParaformerStreamingSession> self(this);
    if (m_sendAbandoned)
        co_return false;
    while (self && m_ws && m_link == Link::open && m_ws->bytesToWrite() > maxBytesInSocket) {
        OneShot<bool> drained;
        m_drainWaiters.push_back(drained);
        const std::optional<bool> result = co_await drained.wait(m_lifetime);
        if (!result || !*result)
            co_return false;
    }
    co_return self &&m_ws &&m_link == Link::open;
}

void ParaformerStreamingSession::wakeAll(std::vector<OneShot<bool>> &waiters, bool value)
{
    std::vector<OneShot<bool>> woken;
    woken.swap(waiters);
    for (const OneShot<bool> &w : woken)
        w.resolve(value);
}

void ParaformerStreamingSession::onConnected()
{
    if (m_upgradeTimer) {
        m_clock.cancelTimer(m_upgradeTimer);
        m_upgradeTimer = 0;
    }
    m_link = Link::open;
    connect(m_ws, &QWebSocket::bytesWritten, this, [this]() {
        if (m_ws && m_ws->bytesToWrite() <= maxBytesInSocket)
            wakeAll(m_drainWaiters, true);
    });
    wakeAll(m_openWaiters, true);
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
    ConnectionError e{QAbstractSocket::RemoteHostClosedError, 0,
                      m_ws && !m_ws->closeReason().isEmpty() ? m_ws->closeReason()
                                                             : QStringLiteral("connection closed")};
    markGone(e);
}

void ParaformerStreamingSession::markGone(const ConnectionError &error)
{
    if (m_link == Link::gone)
        return;
    m_link = Link::gone;
    if (m_upgradeTimer) {
        m_clock.cancelTimer(m_upgradeTimer);
        m_upgradeTimer = 0;
    }
    m_connectionError = error;
    if (m_ws && m_ws->state() != QAbstractSocket::UnconnectedState) {
        disconnect(m_ws, nullptr, this, nullptr);
        m_ws->abort();
    }
    wakeAll(m_openWaiters, false);
    wakeAll(m_drainWaiters, false);
    if (m_receiving) {
        qCCritical(lcRealtimeASR, "WS receiveLoop error domain=%s code=%ld desc=%s",
                   error.httpStatus ? "HTTP" : "QAbstractSocket",
                   static_cast<long>(error.httpStatus ? error.httpStatus : error.socketError),
                   qUtf8Printable(error.detail));
    }
    endReceiveLoop();
}

void ParaformerStreamingSession::closeSocket()
{
    if (m_upgradeTimer) {
        m_clock.cancelTimer(m_upgradeTimer);
        m_upgradeTimer = 0;
    }
    if (m_ws) {
        QWebSocket *ws = m_ws;
        m_ws = nullptr;
        disconnect(ws, nullptr, this, nullptr);
        ws->close(QWebSocketProtocol::CloseCodeGoingAway);
        ws->deleteLater();
    }
    m_link = Link::gone;
    wakeAll(m_openWaiters, false);
    wakeAll(m_drainWaiters, false);
}

// ---- sending -----------------------------------------------------------------------------------------------

QCoro::Task<bool> ParaformerStreamingSession::sendJSON(QJsonObject message)
{
    QPointer<ParaformerStreamingSession> self(this);
    if (!wsRunning())
        co_return true;
    const QByteArray json = QJsonDocument(message).toJson(QJsonDocument::Compact);
    const QString text = QString::fromUtf8(json);
    qCInfo(lcRealtimeASR, "WS JSON sent: %s", json.constData());
    std::printf("[ParaformerWS] send %s\n", json.constData());
    std::fflush(stdout);
    const bool open = co_await awaitOpen();
    if (!self || !open || !m_ws)
        co_return false;
    m_ws->sendTextMessage(text);
    co_return co_await awaitDrained();
}

void ParaformerStreamingSession::appendAudio(const QByteArray &chunk)
{
    if (chunk.isEmpty())
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
    if (m_pendingAudioBytes >= sendQueueLimitBytes) {
        while (!m_pendingAudioChunks.empty() && m_pendingAudioBytes >= sendQueueLimitBytes) {
            m_pendingAudioBytes -= m_pendingAudioChunks.front().size();
            m_pendingAudioChunks.pop_front();
        }
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

void ParaformerStreamingSession::startSendingIfNeeded()
{
    if (m_state != 1 || m_isSendingAudio || !wsRunning())
        return;
    m_isSendingAudio = true;
    runSender();
}

QCoro::Task<> ParaformerStreamingSession::runSender()
{
    QPointer<ParaformerStreamingSession> self(this);
    while (self && m_state == 1 && !m_lifetime.isCancelled() && !m_pendingAudioChunks.empty())
        co_await flushPendingAudio();
    if (self)
        m_isSendingAudio = false;
}

QCoro::Task<> ParaformerStreamingSession::flushPendingAudio()
{
    QPointer<ParaformerStreamingSession> self(this);
    if (m_state < 1 || !wsRunning())
        co_return;
    std::deque<QByteArray> batch;
    batch.swap(m_pendingAudioChunks);
    m_pendingAudioBytes = 0;
    m_batchInFlight = true;

    // The waits are skipped inline in the common case (open socket, little unsent), which keeps the per-chunk
    // cost of streaming low.
    bool sent = m_link == Link::open || co_await awaitOpen();
    if (!self)
        co_return;
    for (const QByteArray &frame : batch) {
        if (!sent)
            break;
        if (!m_ws)
            continue;
        m_ws->sendBinaryMessage(frame);
        if (m_ws->bytesToWrite() > maxBytesInSocket || m_sendAbandoned) {
            sent = co_await awaitDrained();
            if (!self)
                co_return;
        }
    }
    if (!sent && m_ws) {
        const ConnectionError e = m_connectionError.value_or(ConnectionError{
            QAbstractSocket::SocketTimeoutError, 0, QStringLiteral("send still pending at the deadline")});
        qCCritical(lcRealtimeASR, "WS flushPendingAudio error domain=%s code=%ld desc=%s", "QAbstractSocket",
                   static_cast<long>(e.socketError), qUtf8Printable(e.detail));
        resumeFinal(textAfterConnectionLoss());
    }
    m_batchInFlight = false;
    wakeAll(m_batchWaiters, true);
}

// ---- receiving ---------------------------------------------------------------------------------------------

void ParaformerStreamingSession::onTextMessage(const QString &text)
{
    if (!m_receiving)
        return;
    if (text.isEmpty()) {
        qCInfo(lcRealtimeASR, "WS receive empty message");
        endReceiveLoop();
        return;
    }
    handleMessage(text);
}

void ParaformerStreamingSession::onBinaryMessage(const QByteArray &data)
{
    if (!m_receiving)
        return;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(data);
    if (decoder.hasError()) {
        qCCritical(lcRealtimeASR, "WS receive binary data could not be parsed to string: %ld bytes",
                   static_cast<long>(data.size()));
        endReceiveLoop();
        return;
    }
    onTextMessage(text);
}

void ParaformerStreamingSession::endReceiveLoop()
{
    if (!m_receiving)
        return;
    m_receiving = false;
    qCInfo(lcRealtimeASR, "WS receiveLoop exited");
    resumeFinal(textAfterConnectionLoss());
}

QString ParaformerStreamingSession::textAfterConnectionLoss() const
{
    const QString text = currentText();
    if (!text.isEmpty() || !m_connectionError)
        return text;
    const ConnectionError &e = *m_connectionError;
    return QStringLiteral("[错误: ") +
           dashScopeErrorMessage(static_cast<QAbstractSocket::SocketError>(e.socketError), e.detail, e.httpStatus) +
           QStringLiteral("]");
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
        if (m_state == 0)
            m_state = 1;
    } else if (event == QStringLiteral("result-generated") || event == QStringLiteral("sentence-end")) {
        const QJsonValue payload = root.value(QStringLiteral("payload"));
        if (payload.isObject())
            handleSentence(event, payload.toObject());
    } else if (event == QStringLiteral("task-finished")) {
        resumeFinal(currentText());
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

    bool end = false;
    if (event == QStringLiteral("sentence-end"))
        end = true;
    else if (const auto flag = boolAt(payload, QStringLiteral("is_sentence_end")))
        end = *flag;
    else if (const auto outputFlag = boolAt(output, QStringLiteral("is_sentence_end")))
        end = *outputFlag;
    // The service itself marks a finished sentence here; without it a sentence lacking end punctuation would be
    // dropped when the next one starts.
    else if (const auto sentenceFlag = boolAt(sentence, QStringLiteral("sentence_end")))
        end = *sentenceFlag;

    const QString text = trimmed(textValue.toString());
    if (text.isEmpty())
        return;
    if (end) {
        m_partialText.clear();
        appendFinalSegment(text);
    } else {
        commitPartialIfSentenceEnded(text);
        m_partialText = text;
    }
    const QString combined = currentText();
    if (!combined.isEmpty() && onPartialUpdated)
        onPartialUpdated(combined);
}

void ParaformerStreamingSession::handleTaskFailed(const QJsonObject &header)
{
    m_state = 3;
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
        m_partialText = QStringLiteral("[错误: ") + message + QStringLiteral("]");
    resumeFinal(currentText());
}

void ParaformerStreamingSession::appendFinalSegment(const QString &text)
{
    const QString t = trimmed(text);
    if (t.isEmpty())
        return;
    if (!m_finalSegments.isEmpty() && m_finalSegments.last() == t)
        return;
    m_finalSegments << t;
}

void ParaformerStreamingSession::commitPartialIfSentenceEnded(const QString &newText)
{
    const QString old = trimmed(m_partialText);
    const QString now = trimmed(newText);
    if (old.isEmpty() || old == now || now.contains(old) || old.contains(now))
        return;
    for (const QString &terminator : sentenceTerminators) {
        if (old.endsWith(terminator)) {
            appendFinalSegment(old);
            return;
        }
    }
}

void ParaformerStreamingSession::resumeFinal(const std::optional<QString> &text)
{
    if (!m_finalContinuation)
        return;
    OneShot<std::optional<QString>> waiter = *m_finalContinuation;
    m_finalContinuation.reset();
    waiter.resolve(text);
}

// ---- finishing ---------------------------------------------------------------------------------------------

QCoro::Task<std::optional<QString>> ParaformerStreamingSession::finalize(qint64 timeoutMs)
{
    QPointer<ParaformerStreamingSession> self(this);
    if (m_state < 1)
        co_return std::nullopt;
    m_state = 2;

    // The timeout bounds the whole call: a stalled connection must not hold the last frames past it either.
    OneShot<std::optional<QString>> finalShot;
    if (m_finalizeTimer)
        m_clock.cancelTimer(m_finalizeTimer);
    m_finalizeTimer = m_clock.schedule(timeoutMs, [this, finalShot]() {
        m_finalizeTimer = 0;
        finalShot.resolve(std::nullopt);
        m_sendAbandoned = true;
        wakeAll(m_drainWaiters, false);
        wakeAll(m_batchWaiters, false);
    });
    const auto finish = [this, self](std::optional<QString> text) {
        if (self && m_finalizeTimer) {
            m_clock.cancelTimer(m_finalizeTimer);
            m_finalizeTimer = 0;
        }
        return text;
    };

    // A batch the sender already has in flight goes out first, so the last frames never overtake it.
    while (m_batchInFlight && !m_sendAbandoned) {
        OneShot<bool> batchDone;
        m_batchWaiters.push_back(batchDone);
        const std::optional<bool> done = co_await batchDone.wait(m_lifetime);
        if (!self)
            co_return std::nullopt;
        if (!done || !*done)
            break;
    }
    if (m_sendAbandoned || m_cancelled)
        co_return finish(std::nullopt); // past the deadline, or cancelled meanwhile
    flushStaging();
    co_await flushPendingAudio();
    if (!self)
        co_return std::nullopt;
    if (m_sendAbandoned || m_cancelled)
        co_return finish(std::nullopt);
    QJsonObject finishTask{
        {QStringLiteral("header"), QJsonObject{{QStringLiteral("action"), QStringLiteral("finish-task")},
                                               {QStringLiteral("task_id"), m_taskId},
                                               {QStringLiteral("streaming"), QStringLiteral("duplex")}}},
        {QStringLiteral("payload"), QJsonObject{{QStringLiteral("input"), QJsonObject()}}},
    };
    co_await sendJSON(finishTask);
    if (!self)
        co_return std::nullopt;
    qCInfo(lcRealtimeASR, "WS finalize: session.finish sent");
    if (m_sendAbandoned || m_cancelled)
        co_return finish(std::nullopt);
    // Nothing more can arrive once the receive side has ended: answer now rather than after the timeout.
    if (!m_receiving)
        co_return finish(textAfterConnectionLoss());

    m_finalContinuation = finalShot;
    const std::optional<std::optional<QString>> result = co_await finalShot.wait(m_lifetime);
    if (!self)
        co_return std::nullopt;
    // When the timer won, the waiter is discarded so that a later resumeFinal finds nothing.
    m_finalContinuation.reset();
    co_return finish(result.value_or(std::nullopt));
}

void ParaformerStreamingSession::cancel()
{
    m_state = 3;
    m_cancelled = true;
    m_receiving = false;
    closeSocket();
    m_pendingAudioChunks.clear();
    m_pendingAudioBytes = 0;
    m_pcmStaging.clear();
    m_isSendingAudio = false;
    m_partialText.clear();
    m_finalSegments.clear();
    qCInfo(lcRealtimeASR, "WS cancel");
    resumeFinal(std::nullopt);
    wakeAll(m_batchWaiters, false);
}
