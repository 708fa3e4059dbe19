#pragma once

#include "asr/StreamingSession.h"
#include "base/Async.h"
#include "base/CancelToken.h"
#include "base/Clock.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <deque>
#include <optional>
#include <vector>

class QWebSocket;

// One dictation's audio to DashScope realtime recognition over a WebSocket, and the service's events back to
// text. Lives on the main thread; every timeout runs on the injected Clock.
//
// The socket and the recognition task share one phase: run-task is the first frame once the upgrade succeeds,
// audio waits in the bounded queue until the service answers task-started, and whatever ends the link ends
// sending and receiving together and wakes every waiting step.
class ParaformerStreamingSession final : public QObject, public StreamingSession
{
    Q_OBJECT
public:
    static constexpr qsizetype frameBytes = 1024;         // 512 samples, 32 ms at 16 kHz
    static constexpr qint64 sendQueueLimitBytes = 320000; // 10 s of 16 kHz mono PCM16
    static constexpr qint64 upgradeTimeoutMs = 30000;

    enum class Phase {
        created,     // nothing opened yet
        connecting,  // upgrade under way
        taskPending, // run-task sent; audio is held until task-started
        streaming,   // task-started seen; audio flows
        finishing,   // finalize has begun; finish-task follows the last frame
        finished,    // task-finished: the final text is in
        closed,      // nothing more can arrive: task-failed, the link is gone, or the receive side ended
        cancelled,   // the owner cancelled
    };

    ParaformerStreamingSession(Clock &clock, const QUrl &endpoint, const QString &apiKey, const QString &model,
                               int sampleRate, const std::optional<QStringList> &languageHints,
                               QObject *parent = nullptr);
    ~ParaformerStreamingSession() override;

    // TLS settings for the socket (for example an extra trusted root); set before start().
    void setSslConfiguration(const QSslConfiguration &configuration) { m_sslConfiguration = configuration; }

    QCoro::Task<> start() override;
    void appendAudio(const QByteArray &chunk) override;
    void startSendingIfNeeded() override;
    QCoro::Task<std::optional<QString>> finalize(qint64 timeoutMs) override;
    void cancel() override;

    // One text frame from the service, handled as the socket delivers it (events, sentence assembly).
    void receiveText(const QString &text);

    Phase phase() const { return m_phase; }
    // -1 created, 0 starting (until task-started), 1 streaming, 2 finishing, 3 closed.
    int state() const;
    const QString &taskId() const { return m_taskId; }
    qint64 pendingAudioBytes() const { return m_pendingAudioBytes; }
    const std::deque<QByteArray> &pendingAudioChunks() const { return m_pendingAudioChunks; }
    const QByteArray &pcmStaging() const { return m_pcmStaging; }
    const QStringList &finalSegments() const { return m_finalSegments; }
    const QString &partialText() const { return m_partialText; }
    const std::optional<QStringList> &languageHints() const { return m_languageHints; }
    // The final segments and the partial, joined by single spaces.
    QString currentText() const;

private:
    struct ConnectionError {
        int socketError = -1;
        int httpStatus = 0;
        QString detail;
    };

    bool linkOpen() const;
    bool receiving() const;
    void setPhase(Phase phase);
    // Suspends until the phase, the queue or a deadline changes; false when the session is gone.
    QCoro::Task<bool> nextChange();
    void wakeWaiters();
    bool sendJSON(const QJsonObject &message);
    QJsonObject runTaskMessage() const;
    void pumpAudio();
    void enqueueAudio(const QByteArray &frame);
    void flushStaging();
    void dropAudio();

    void onConnected();
    void onSocketError(QAbstractSocket::SocketError error);
    void onDisconnected();
    void onBinaryMessage(const QByteArray &data);
    void markGone(const ConnectionError &error);
    void endReceiving();
    void handleMessage(const QString &text);
    void handleSentence(const QString &event, const QJsonObject &payload);
    void handleTaskFailed(const QJsonObject &header);
    void appendFinalSegment(const QString &text);
    void commitPartialIfSentenceEnded(const QString &newText);
    // What the owner gets once nothing more can arrive: the text so far, or the report of a failed connection.
    QString textAfterConnectionLoss() const;
    void closeSocket();

    Clock &m_clock;
    const QUrl m_endpoint;
    const QString m_apiKey;
    const QString m_model;
    const int m_sampleRate;
    const std::optional<QStringList> m_languageHints;
    std::optional<QSslConfiguration> m_sslConfiguration;

    QWebSocket *m_ws = nullptr;
    Phase m_phase = Phase::created;
    QString m_taskId;
    QString m_partialText;
    QStringList m_finalSegments;
    // Set once a result carried the service's own end-of-sentence flag: its sentences need no guessing.
    bool m_serviceMarksSentenceEnds = false;
    std::deque<QByteArray> m_pendingAudioChunks;
    qint64 m_pendingAudioBytes = 0;
    QByteArray m_pcmStaging;

    std::optional<ConnectionError> m_connectionError;
    Clock::TimerId m_upgradeTimer = 0;
    std::vector<OneShot<bool>> m_waiters;
    // Cancelled on destruction: wakes every suspended step so that it sees the session gone.
    CancelToken m_lifetime;
};
