#include "app/SingleInstance.h"

#include <QDir>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QStandardPaths>

SingleInstance::SingleInstance(QObject *parent) : QObject(parent) {}

QString SingleInstance::socketPath()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir + QStringLiteral("/voxle-instance");
}

std::optional<QJsonObject> SingleInstance::send(const QJsonObject &command, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(timeoutMs))
        return std::nullopt;
    socket.write(QJsonDocument(command).toJson(QJsonDocument::Compact) + '\n');
    socket.flush();
    QByteArray answer;
    while (!answer.contains('\n')) {
        if (!socket.waitForReadyRead(timeoutMs))
            return std::nullopt;
        answer += socket.readAll();
    }
    const QJsonDocument doc = QJsonDocument::fromJson(answer.left(answer.indexOf('\n')));
    if (!doc.isObject())
        return std::nullopt;
    return doc.object();
}

bool SingleInstance::listen(Handler handler)
{
    m_handler = std::move(handler);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    const QString path = socketPath();
    if (!m_server.listen(path)) {
        // A socket file left by a crashed instance: nobody answers on it, so take it over.
        if (send(QJsonObject{{QStringLiteral("command"), QStringLiteral("ping")}}, 500))
            return false;
        QLocalServer::removeServer(path);
        if (!m_server.listen(path))
            return false;
    }
    connect(&m_server, &QLocalServer::newConnection, this, [this]() {
        while (QLocalSocket *socket = m_server.nextPendingConnection())
            serve(socket);
    });
    return true;
}

void SingleInstance::serve(QLocalSocket *socket)
{
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, socket, [this, socket]() {
        if (!socket->canReadLine())
            return;
        const QJsonDocument doc = QJsonDocument::fromJson(socket->readLine());
        QJsonObject answer;
        if (!doc.isObject())
            answer = {{QStringLiteral("ok"), false}, {QStringLiteral("error"), QStringLiteral("bad command")}};
        else if (doc.object().value(QStringLiteral("command")).toString() == QStringLiteral("ping"))
            answer = {{QStringLiteral("ok"), true}};
        else
            answer = m_handler(doc.object());
        socket->write(QJsonDocument(answer).toJson(QJsonDocument::Compact) + '\n');
        socket->flush();
        socket->disconnectFromServer();
    });
}
