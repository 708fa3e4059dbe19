#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

// A voxle-localserver child process on a free loopback port, stopped (by its own pid) on destruction.
class LocalServerProcess
{
public:
    explicit LocalServerProcess(const QStringList &extraArgs = {});
    ~LocalServerProcess();

    bool isRunning() const { return m_port != 0; }
    quint16 port() const { return m_port; }
    QString origin() const; // "ws://127.0.0.1:<port>"
    QString errorText() const { return m_error; }

    // Plain HTTP/1.1 against the server; returns the status (0 on a transport failure) and fills body.
    int request(const QByteArray &method, const QByteArray &path, const QByteArray &body = {},
                QByteArray *responseBody = nullptr, const QList<QPair<QByteArray, QByteArray>> &headers = {});
    bool setAsrScript(const QJsonObject &script);
    // The realtime endpoint's connection log (see RealtimeAsrEndpoint).
    QJsonObject asrLog();

private:
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};
