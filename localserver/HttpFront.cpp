#include "HttpFront.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>
#include <QWebSocketServer>

namespace {
// Headers larger than this are refused rather than buffered without end.
constexpr qint64 maxHeaderBytes = 64 * 1024;
constexpr qint64 maxBodyBytes = 64 * 1024 * 1024;

HttpResponse jsonError(int status, const QString &message)
{
    HttpResponse r;
    r.status = status;
    r.body = QJsonDocument(QJsonObject{{QStringLiteral("message"), message}}).toJson(QJsonDocument::Compact);
    return r;
}

bool parseHead(const QByteArray &head, HttpRequest &request)
{
    const QList<QByteArray> lines = head.split('\n');
    if (lines.isEmpty())
        return false;
    const QList<QByteArray> first = lines.first().trimmed().split(' ');
    if (first.size() < 2)
        return false;
    request.method = first.at(0);
    const QUrl url(QString::fromUtf8(first.at(1)));
    request.path = url.path(QUrl::FullyDecoded).toUtf8();
    request.query = QUrlQuery(url);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        if (line.isEmpty())
            continue;
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return false;
        request.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
    }
    return true;
}
} // namespace

HttpFront::HttpFront(QObject *parent) : QObject(parent), m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, [this]() { onNewConnection(m_server); });
}

HttpFront::~HttpFront() = default;

bool HttpFront::listen(const QHostAddress &address, quint16 port)
{
    return m_server->listen(address, port);
}

quint16 HttpFront::port() const
{
    return m_server->serverPort();
}

bool HttpFront::listenTls(const QHostAddress &address, quint16 port, const QSslConfiguration &configuration)
{
    if (!m_tlsServer) {
        m_tlsServer = new QSslServer(this);
        // Sockets are handed over once their handshake has completed.
        connect(m_tlsServer, &QSslServer::pendingConnectionAvailable, this, [this]() { onNewConnection(m_tlsServer); });
    }
    m_tlsServer->setSslConfiguration(configuration);
    return m_tlsServer->listen(address, port);
}

quint16 HttpFront::tlsPort() const
{
    return m_tlsServer ? m_tlsServer->serverPort() : 0;
}

void HttpFront::route(const QByteArray &method, const QByteArray &path,
                      std::function<void(const HttpRequest &, Responder)> handler)
{
    m_routes.push_back(Route{method.toUpper(), path, std::move(handler)});
}

void HttpFront::webSocketRoute(const QByteArray &path,
                               std::function<std::optional<HttpResponse>(const HttpRequest &)> check,
                               std::function<void(QWebSocket *)> accepted, std::function<int()> delayMs)
{
    // Non-secure mode also serves the TLS listener: its sockets arrive already decrypted.
    auto *server = new QWebSocketServer(QStringLiteral("voxle-localserver"), QWebSocketServer::NonSecureMode, this);
    m_webSocketRoutes.push_back(WebSocketRoute{path, std::move(check), accepted, std::move(delayMs), server});
    connect(server, &QWebSocketServer::newConnection, this, [this, server, accepted]() {
        while (QWebSocket *ws = server->nextPendingConnection()) {
            // The handshake took over the TCP socket we handed in; find it again by its peer port.
            for (qsizetype i = 0; i < m_handedOver.size(); ++i) {
                QPointer<QTcpSocket> tcp = m_handedOver.at(i);
                if (!tcp) {
                    m_handedOver.removeAt(i--);
                } else if (tcp->peerPort() == ws->peerPort()) {
                    m_tcpOfWebSocket.insert(ws, tcp);
                    m_handedOver.removeAt(i);
                    break;
                }
            }
            connect(ws, &QObject::destroyed, this, [this, ws]() { m_tcpOfWebSocket.remove(ws); });
            accepted(ws);
        }
    });
}

QTcpSocket *HttpFront::tcpSocketOf(QWebSocket *socket) const
{
    return m_tcpOfWebSocket.value(socket, nullptr);
}

void HttpFront::onNewConnection(QTcpServer *server)
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket]() { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void HttpFront::onReadyRead(QTcpSocket *socket)
{
    // Peek, not read: an accepted upgrade hands the untouched bytes to the WebSocket handshake.
    const QByteArray buffered = socket->peek(socket->bytesAvailable());
    const qsizetype headEnd = buffered.indexOf("\r\n\r\n");
    if (headEnd < 0) {
        if (buffered.size() > maxHeaderBytes) {
            socket->readAll();
            writeResponse(socket, jsonError(431, QStringLiteral("request header too large")));
        }
        return;
    }
    HttpRequest request;
    if (!parseHead(buffered.left(headEnd), request)) {
        socket->readAll();
        writeResponse(socket, jsonError(400, QStringLiteral("malformed request")));
        return;
    }

    if (request.headers.value("upgrade").toLower().contains("websocket")) {
        for (const WebSocketRoute &ws : m_webSocketRoutes) {
            if (ws.path != request.path)
                continue;
            // Held (or answered) from here on: later bytes must not start a second answer.
            disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
            const int delay = ws.delayMs ? ws.delayMs() : 0;
            if (delay <= 0) {
                upgrade(socket, ws, request);
                return;
            }
            QPointer<QTcpSocket> guard(socket);
            const QByteArray path = ws.path;
            QTimer::singleShot(delay, this, [this, guard, path, request]() {
                if (!guard)
                    return;
                for (const WebSocketRoute &route : m_webSocketRoutes)
                    if (route.path == path)
                        upgrade(guard, route, request);
            });
            return;
        }
        socket->readAll();
        writeResponse(socket, jsonError(404, QStringLiteral("no such endpoint")));
        return;
    }

    bool lengthOk = true;
    const qint64 length = request.headers.value("content-length", "0").toLongLong(&lengthOk);
    if (!lengthOk || length < 0 || length > maxBodyBytes) {
        socket->readAll();
        writeResponse(socket, jsonError(400, QStringLiteral("bad Content-Length")));
        return;
    }
    const qint64 total = headEnd + 4 + length;
    if (buffered.size() < total)
        return;
    socket->read(headEnd + 4);
    request.body = socket->read(length);
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    dispatch(socket, request);
}

void HttpFront::upgrade(QTcpSocket *socket, const WebSocketRoute &route, const HttpRequest &request)
{
    if (const std::optional<HttpResponse> refusal = route.check(request)) {
        socket->readAll();
        writeResponse(socket, *refusal);
        return;
    }
    disconnect(socket, nullptr, this, nullptr);
    disconnect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    m_handedOver.append(QPointer<QTcpSocket>(socket));
    route.server->handleConnection(socket);
}

void HttpFront::dispatch(QTcpSocket *socket, const HttpRequest &request)
{
    QPointer<QTcpSocket> guard(socket);
    Responder respond = [guard](const HttpResponse &response) {
        if (guard)
            writeResponse(guard, response);
    };
    bool pathKnown = false;
    for (const Route &r : m_routes) {
        if (r.path != request.path)
            continue;
        pathKnown = true;
        if (r.method == request.method.toUpper()) {
            r.handler(request, respond);
            return;
        }
    }
    respond(pathKnown ? jsonError(405, QStringLiteral("method not allowed"))
                      : jsonError(404, QStringLiteral("no such endpoint")));
}

void HttpFront::writeResponse(QTcpSocket *socket, const HttpResponse &response)
{
    if (!socket || socket->property("voxleAnswered").toBool())
        return;
    socket->setProperty("voxleAnswered", true);
    QByteArray out = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status) + "\r\n";
    out += "Content-Type: " + response.contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    out += "Connection: close\r\n";
    for (const auto &h : response.headers)
        out += h.first + ": " + h.second + "\r\n";
    out += "\r\n";
    out += response.body;
    socket->write(out);
    socket->disconnectFromHost();
}

QByteArray HttpFront::reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 409:
        return "Conflict";
    case 413:
        return "Payload Too Large";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}
