#pragma once

// A minimal HTTP collector for debug events on a loopback port: records each request and answers 200.
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>

class DebugCollector : public QObject
{
public:
    struct Request {
        QByteArray method;
        QByteArray path;
        QByteArray contentType;
        QByteArray body;
        QJsonObject event() const { return QJsonDocument::fromJson(body).object(); }
    };
    QList<Request> requests;

    DebugCollector()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
            }
        });
        m_server.listen(QHostAddress::LocalHost);
    }
    QByteArray url() const { return "http://127.0.0.1:" + QByteArray::number(m_server.serverPort()) + "/event"; }

    // The records with this message, in arrival order.
    QList<QJsonObject> withMessage(const char *message) const
    {
        QList<QJsonObject> found;
        for (const Request &r : requests)
            if (r.event().value(QStringLiteral("msg")).toString() == QLatin1String(message))
                found << r.event();
        return found;
    }
    QJsonObject data(const char *message, int index = 0) const
    {
        return withMessage(message).value(index).value(QStringLiteral("data")).toObject();
    }

private:
    void readFrom(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        auto header = [&lines](const QByteArray &name) {
            for (const QByteArray &line : lines)
                if (line.toLower().startsWith(name + ':'))
                    return line.mid(name.size() + 1).trimmed();
            return QByteArray();
        };
        const qsizetype length = header("content-length").toLongLong();
        if (buffer.size() < headerEnd + 4 + length)
            return;
        const QList<QByteArray> start = lines.first().trimmed().split(' ');
        requests << Request{start.value(0), start.value(1), header("content-type"), buffer.mid(headerEnd + 4, length)};
        m_buffers.remove(socket);
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};
