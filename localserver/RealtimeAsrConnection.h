#pragma once

#include "RecognitionEngine.h"

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <memory>

class QWebSocket;
class RealtimeAsrEndpoint;

// One client socket of the realtime recognition endpoint: run-task, binary audio, finish-task in; task-started,
// result-generated, task-finished or task-failed out. As strict as the real service: run-task is checked field
// by field, task-started comes after a delay and only then may audio follow, results never come back inside
// the handler of the frame that caused them, and silence or a missing stream fails the task with the
// service's codes.
class RealtimeAsrConnection : public QObject
{
    Q_OBJECT
public:
    RealtimeAsrConnection(QWebSocket *socket, QTcpSocket *tcp, RealtimeAsrEndpoint &endpoint, RecognitionEngine &engine,
                          int logEntry);

private:
    enum class Task { none, starting, started, finishing, ended };

    void onText(const QString &text);
    void onBinary(const QByteArray &data);
    void runTask(const QJsonObject &header, const QJsonObject &payload);
    void finishTask(const QJsonObject &header);
    void taskStarted();
    void sendEvent(const QString &event, const QJsonObject &payload, const QJsonObject &extraHeader = {});
    void fail(const QString &code, const QString &message);
    void drop();
    void onResult(const RecognitionResult &result);
    qint64 setting(const char *key, qint64 fallback) const;

    QWebSocket *m_socket;
    QPointer<QTcpSocket> m_tcp;
    RealtimeAsrEndpoint &m_endpoint;
    RecognitionEngine &m_engine;
    int m_logEntry;
    QJsonObject m_transport;
    std::unique_ptr<RecognitionStream> m_stream;
    Task m_task = Task::none;
    QString m_taskId;
    bool m_heartbeat = false;
    qint64 m_audioBytes = 0;
    bool m_heardSound = false;
    qint64 m_silentBytes = 0; // length of the current run of silent audio
    int m_sentenceId = 0;
    bool m_done = false;
    QTimer m_startTimer;
    QTimer m_idleTimer;
};
