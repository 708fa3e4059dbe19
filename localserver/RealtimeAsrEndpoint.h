#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

class HttpFront;
class RecognitionEngine;
class ScriptedRecognitionEngine;

// DashScope realtime recognition on /api-ws/v1/inference, plus the test controls:
//   POST /__control/asr      JSON script: the engine part (see ScriptedRecognitionEngine) and these transport keys:
//       "upgrade_delay_ms": N       answer the upgrade after N ms (default 0), accepted or refused
//       "upgrade_status": 401|403   refuse every upgrade with this status (403: account in arrears)
//       "task_started_delay_ms": N  task-started N ms after run-task (default 300, a real round trip)
//       "idle_timeout_ms": N        task-failed CLIENT_ERROR after N ms without audio (default 23000)
//       "silence_timeout_ms": N     task-failed CLIENT_ERROR after N ms of silent audio, unless run-task asked
//                                   for the heartbeat (default 60000, counted in audio time)
//       "max_frame_bytes": N        larger audio frames fail the task (default 65536)
//       "stall_reader": true        stop reading the socket after task-started (the client's sends back up)
//       "drop_after_bytes": N       abort the TCP connection once N audio bytes arrived (0: at run-task)
//       "drop_on_finish": true      abort the TCP connection when finish-task arrives
//       "raw_after_start": ["..."]  text frames sent as they are right after task-started
//       "binary_after_start_base64": ["..."]  binary frames sent right after those
//       "no_task_started": true     never send task-started
//     Posting a script also clears the connection log.
//   GET /__control/asr/log   {"connections": [{"authorization": "...", "messages": [{"type": "text", "json": {...}},
//                              {"type": "sent", "event": "task-started"}, {"type": "binary", "size": 1024}, ...],
//                              "closed": true, "close_code": 1001}]}
class RealtimeAsrEndpoint : public QObject
{
    Q_OBJECT
public:
    RealtimeAsrEndpoint(HttpFront &front, RecognitionEngine &engine, ScriptedRecognitionEngine *scripted,
                        const QString &apiKey, QObject *parent = nullptr);

    const QJsonObject &transportScript() const { return m_transport; }
    // Connection log entries, appended by the connections as they go.
    int openLogEntry(const QString &authorization);
    void logMessage(int entry, const QJsonObject &message);
    void logClosed(int entry, int closeCode);

private:
    HttpFront &m_front;
    RecognitionEngine &m_engine;
    ScriptedRecognitionEngine *m_scripted;
    QString m_apiKey;
    QJsonObject m_transport;
    QJsonArray m_log;
};
