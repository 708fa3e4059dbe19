#pragma once

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

// Thrown by StreamingSession::start(). dashScopeErrorMessage(const StartError &) turns it into the message
// shown to the user.
struct StartError {
    enum class Kind { timeout, transport };
    Kind kind = Kind::transport;
    int socketError = -1;  // QAbstractSocket::SocketError for transport failures, -1 when none
    int httpStatus = 0;    // the refused upgrade's HTTP status, 0 when none
    QString detail;        // the transport's own error text, for logs
};

// One recognition session of one dictation, on the main thread.
class StreamingSession
{
public:
    virtual ~StreamingSession() = default;

    // Partial transcript updates, delivered on the main thread.
    std::function<void(const QString &text)> onPartialUpdated;

    // Connects and waits until the service is ready. Throws StartError.
    virtual QCoro::Task<> start() = 0;
    virtual void appendAudio(const QByteArray &pcm16kMono) = 0;
    virtual void startSendingIfNeeded() = 0;
    // The final text, or nothing when the session timed out, was cancelled or never became ready.
    virtual QCoro::Task<std::optional<QString>> finalize(qint64 timeoutMs) = 0;
    // Closes the socket; a waiting finalize() returns nothing.
    virtual void cancel() = 0;
};

class StreamingSessionFactory
{
public:
    virtual ~StreamingSessionFactory() = default;
    virtual std::unique_ptr<StreamingSession> create(const QString &apiKey, const QString &model, int sampleRate,
                                                     const std::optional<QStringList> &languageHints) = 0;
};
