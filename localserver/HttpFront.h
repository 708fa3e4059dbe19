#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QTcpSocket>
#include <QUrlQuery>
#include <functional>
#include <optional>
#include <vector>

class QSslConfiguration;
class QSslServer;
class QTcpServer;
class QWebSocket;
class QWebSocketServer;

struct HttpRequest {
    QByteArray method;
    QByteArray path;
    QUrlQuery query;
    QMap<QByteArray, QByteArray> headers; // lower-case names
    QByteArray body;
};

struct HttpResponse {
    int status = 200;
    QByteArray contentType = "application/json";
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
};

// May be called later (delayed answers); calling it after the client went away is harmless.
using Responder = std::function<void(const HttpResponse &)>;

// One port for plain HTTP/1.1 routes and WebSocket upgrades. Requests carry Content-Length bodies; every
// answer closes the connection. Unknown routes get a 404 JSON body.
class HttpFront : public QObject
{
    Q_OBJECT
public:
    explicit HttpFront(QObject *parent = nullptr);
    ~HttpFront() override;

    bool listen(const QHostAddress &address, quint16 port);
    quint16 port() const;
    // A second, TLS listener serving the same routes (wss:// and https://).
    bool listenTls(const QHostAddress &address, quint16 port, const QSslConfiguration &configuration);
    quint16 tlsPort() const;

    void route(const QByteArray &method, const QByteArray &path,
               std::function<void(const HttpRequest &, Responder)> handler);

    // Upgrade requests on `path`: `check` returns a response to refuse (e.g. 401 JSON) or nothing to accept;
    // accepted sockets are handed to `accepted` once the WebSocket handshake has completed. `delayMs`, when
    // given, says how long to hold the upgrade before answering it either way.
    void webSocketRoute(const QByteArray &path, std::function<std::optional<HttpResponse>(const HttpRequest &)> check,
                        std::function<void(QWebSocket *)> accepted, std::function<int()> delayMs = {});

    // The TCP connection under an accepted WebSocket (for transport tricks such as stalling or dropping),
    // or null once it is gone.
    QTcpSocket *tcpSocketOf(QWebSocket *socket) const;

    static QByteArray reasonPhrase(int status);

private:
    struct WebSocketRoute {
        QByteArray path;
        std::function<std::optional<HttpResponse>(const HttpRequest &)> check;
        std::function<void(QWebSocket *)> accepted;
        std::function<int()> delayMs;
        QWebSocketServer *server = nullptr;
    };
    struct Route {
        QByteArray method;
        QByteArray path;
        std::function<void(const HttpRequest &, Responder)> handler;
    };

    void onNewConnection(QTcpServer *server);
    void onReadyRead(QTcpSocket *socket);
    void upgrade(QTcpSocket *socket, const WebSocketRoute &route, const HttpRequest &request);
    void dispatch(QTcpSocket *socket, const HttpRequest &request);
    static void writeResponse(QTcpSocket *socket, const HttpResponse &response);

    QTcpServer *m_server = nullptr;
    QSslServer *m_tlsServer = nullptr;
    std::vector<Route> m_routes;
    std::vector<WebSocketRoute> m_webSocketRoutes;
    QList<QPointer<QTcpSocket>> m_handedOver;
    QMap<QWebSocket *, QPointer<QTcpSocket>> m_tcpOfWebSocket;
};
