#pragma once

#include <QJsonObject>
#include <QLocalServer>
#include <QObject>
#include <functional>
#include <optional>

// One Voxle per desktop session: the first process listens on a local socket in the runtime directory, later
// launches hand it their command (a JSON object) and print its answer.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<QJsonObject(const QJsonObject &command)>;

    explicit SingleInstance(QObject *parent = nullptr);

    static QString socketPath();
    // Sends the command to a running instance; nothing when none answers within timeoutMs.
    static std::optional<QJsonObject> send(const QJsonObject &command, int timeoutMs = 3000);

    // Starts answering commands; false when another instance already listens.
    bool listen(Handler handler);

private:
    void serve(QLocalSocket *socket);

    QLocalServer m_server;
    Handler m_handler;
};
