#pragma once

#include "asr/StreamingSession.h"
#include "base/Async.h"
#include "base/CancelToken.h"
#include "base/Clock.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <deque>
#include <optional>
#include <vector>

class QWebSocket;

// One dictation's audio to DashScope realtime recognition over a WebSocket, and the service's events back to
// text. Lives on the main thread; every timeout runs on the injected Clock.
class ParaformerStreamingSession final : public QObject, public StreamingSession
{
    Q_OBJECT
public:
    static constexpr qsizetype frameBytes = 1024;         // 512 samples, 32 ms at 16 kHz
    static constexpr qint64 sendQueueLimitBytes = 320000; // 10 s of 16 kHz mono PCM16
    static constexpr qint64 readyTimeoutMs = 2000;
    static constexpr qint64 upgradeTimeoutMs = 30000;

    ParaformerStreamingSession(Clock &clock, const QUrl &endpoint, const QString &apiKey, const QString &model,
                               int sampleRate, const std::optional<QStringList> &languageHints,
                               QObject *parent = nullptr);
    ~ParaformerStreamingSession() override;

    QCoro::Task<> start() override;
    void appendAudio(const QByteArray &chunk) override;
    void startSendingIfNeeded() override;
    QCoro::Task<std::optional<QString>> finalize(qint64 timeoutMs) override;
    void cancel() override;

    // -1 created, 0 starting, 1 ready, 2 finishing, 3 closed.
    int state() const { return m_state; }
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

    bool wsRunning() const;
    QCoro::Task<bool> awaitOpen();
    QCoro::Task<bool> awaitDrained();
    QCoro::Task<bool> sendJSON(QJsonObject message);
    QCoro::Task<> runSender();
    QCoro::Task<> flushPendingAudio();
    QCoro::Task<> readinessStep(OneShot<bool> ready);
    void enqueueAudio(const QByteArray &frame);
    void flushStaging();

    void onConnected();
    void onSocketError(QAbstractSocket::SocketError error);
    void onDisconnected();
    void onTextMessage(const QString &text);
    void onBinaryMessage(const QByteArray &data);
    void markGone(const ConnectionError &error);
    void endReceiveLoop();
    void handleMessage(const QString &text);
    void handleSentence(const QString &event, const QJsonObject &payload);
    void handleTaskFailed(const QJsonObject &header);
    void appendFinalSegment(const QString &text);
    void commitPartialIfSentenceEnded(const QString &newText);
    void resumeFinal(const std::optional<QString> &text);
    // What the owner gets once nothing more can arrive: the text so far, or the report of a failed connection.
    QString textAfterConnectionLoss() const;
    void closeSocket();
    void wakeAll(std::vector<OneShot<bool>> &waiters, bool value);

    Clock &m_clock;
    const QUrl m_endpoint;
    const QString m_apiKey;
    const QString m_model;
    const int m_sampleRate;
    const std::optional<QStringList> m_languageHints;

    QWebSocket *m_ws = nullptr;
    bool m_receiving = false;
    int m_state = -1;
    bool m_isSendingAudio = false;
    std::optional<OneShot<std::optional<QString>>> m_finalContinuation;
    QString m_taskId;
    QString m_partialText;
    QStringList m_finalSegments;
    std::deque<QByteArray> m_pendingAudioChunks;
    qint64 m_pendingAudioBytes = 0;
    QByteArray m_pcmStaging;

    enum class Link { none, connecting, open, gone };
    Link m_link = Link::none;
    std::optional<ConnectionError> m_connectionError;
    Clock::TimerId m_upgradeTimer = 0;
    Clock::TimerId m_finalizeTimer = 0;
    bool m_sendAbandoned = false;
    bool m_cancelled = false; // finalize's deadline passed while sends were still waiting
    bool m_batchInFlight = false;
    std::vector<OneShot<bool>> m_openWaiters;
    std::vector<OneShot<bool>> m_drainWaiters;
    std::vector<OneShot<bool>> m_batchWaiters;
    // Cancelled on destruction: wakes every suspended step so that it sees the session gone.
    CancelToken m_lifetime;
};
