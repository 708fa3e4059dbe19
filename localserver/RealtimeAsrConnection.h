#pragma once

#include "RecognitionEngine.h"

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <memory>

class QWebSocket;
class RealtimeAsrEndpoint;

// One client socket of the realtime recognition endpoint: run-task, binary audio, finish-task in; task-started,
// result-generated, task-finished or task-failed out.
class RealtimeAsrConnection : public QObject
{
    Q_OBJECT
public:
    RealtimeAsrConnection(QWebSocket *socket, QTcpSocket *tcp, RealtimeAsrEndpoint &endpoint, RecognitionEngine &engine,
                          int logEntry);

private:
    void onText(const QString &text);
    void onBinary(const QByteArray &data);
    void sendEvent(const QString &event, const QJsonObject &payload, const QJsonObject &extraHeader = {});
    void fail(const QString &code, const QString &message);
    void drop();
    void onResult(const RecognitionResult &result);

    QWebSocket *m_socket;
    QPointer<QTcpSocket> m_tcp;
    RealtimeAsrEndpoint &m_endpoint;
    RecognitionEngine &m_engine;
    int m_logEntry;
    QJsonObject m_transport;
    std::unique_ptr<RecognitionStream> m_stream;
    QString m_taskId;
    qint64 m_audioBytes = 0;
    int m_sentenceId = 0;
    bool m_done = false;
};
