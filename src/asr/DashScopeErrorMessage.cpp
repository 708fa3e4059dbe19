#include "asr/DashScopeErrorMessage.h"

// Qt's errors are mapped onto the categories the messages were written for (URL-loading errors):
//   not connected to the internet  <- NetworkError (no route / network down), NetworkSessionFailed,
//                                     TemporaryNetworkFailure
//   timed out                      <- SocketTimeout, ProxyConnectionTimeout, reply Timeout
//   cannot find / connect to host  <- HostNotFound, ConnectionRefused, ProxyNotFound, ProxyConnectionRefused
//   network connection lost        <- RemoteHostClosed, ProxyConnectionClosed
//   TLS / certificate failure      <- SslHandshakeFailed, SslInternal, SslInvalidUserData
//   unknown                        <- UnknownSocketError, UnknownNetworkError
//   any other                      <- the description and Qt's numeric code
// A refused WebSocket upgrade (the service answered with an HTTP status instead of switching protocols) is
// "any other" with the HTTP status as its code, e.g. "…服务器拒绝了连接，API Key 可能无效（401）".

namespace {
enum class Category { notConnected, timedOut, cannotConnect, connectionLost, tls, unknown, other };

QString messageFor(Category category, const QString &description, long long code)
{
    switch (category) {
    case Category::notConnected:
        return QStringLiteral("无法连接 DashScope：网络未连接。");
    case Category::timedOut:
        return QStringLiteral("无法连接 DashScope：连接超时（可能需要代理或网络不通）。");
    case Category::cannotConnect:
        return QStringLiteral("无法连接 DashScope：无法连接到服务器（可能需要代理或被网络阻断）。");
    case Category::connectionLost:
        return QStringLiteral("无法连接 DashScope：网络连接中断。");
    case Category::tls:
        return QStringLiteral("无法连接 DashScope：TLS/证书握手失败（检查系统时间/网络代理）。");
    case Category::unknown:
        return QStringLiteral(
            "无法连接 DashScope：网络错误（URLError.unknown）。常见原因：网络阻断、代理未开启、TLS 被拦截。");
    case Category::other:
        break;
    }
    const QString text = description.trimmed().isEmpty() ? QStringLiteral("未知错误") : description.trimmed();
    return QStringLiteral("无法连接 DashScope：") + text + QStringLiteral("（") + QString::number(code) +
           QStringLiteral("）");
}
} // namespace

QString startErrorDescription(const StartError &error)
{
    if (error.kind == StartError::Kind::timeout)
        return QStringLiteral("未在预期时间内收到 session.created。");
    return error.detail.isEmpty() ? QStringLiteral("服务端返回 error。") : error.detail;
}

QString dashScopeErrorMessage(const StartError &error)
{
    if (error.kind == StartError::Kind::transport && (error.socketError >= 0 || error.httpStatus != 0))
        return dashScopeErrorMessage(static_cast<QAbstractSocket::SocketError>(error.socketError), error.detail,
                                     error.httpStatus);
    return startErrorDescription(error);
}

QString dashScopeErrorMessage(QAbstractSocket::SocketError error, const QString &description, int httpStatus)
{
    if (httpStatus != 0) {
        const QString why = (httpStatus == 401 || httpStatus == 403)
                                ? QStringLiteral("服务器拒绝了连接，API Key 可能无效")
                                : QStringLiteral("服务器拒绝了连接");
        return messageFor(Category::other, why, httpStatus);
    }
    switch (error) {
    case QAbstractSocket::NetworkError:
        return messageFor(Category::notConnected, description, error);
    case QAbstractSocket::SocketTimeoutError:
    case QAbstractSocket::ProxyConnectionTimeoutError:
        return messageFor(Category::timedOut, description, error);
    case QAbstractSocket::HostNotFoundError:
    case QAbstractSocket::ConnectionRefusedError:
    case QAbstractSocket::ProxyNotFoundError:
    case QAbstractSocket::ProxyConnectionRefusedError:
        return messageFor(Category::cannotConnect, description, error);
    case QAbstractSocket::RemoteHostClosedError:
    case QAbstractSocket::ProxyConnectionClosedError:
        return messageFor(Category::connectionLost, description, error);
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        return messageFor(Category::tls, description, error);
    case QAbstractSocket::UnknownSocketError:
        return messageFor(Category::unknown, description, error);
    default:
        return messageFor(Category::other, description, error);
    }
}

QString dashScopeErrorMessage(QNetworkReply::NetworkError error, const QString &description)
{
    switch (error) {
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
        return messageFor(Category::notConnected, description, error);
    case QNetworkReply::TimeoutError:
    case QNetworkReply::ProxyTimeoutError:
        return messageFor(Category::timedOut, description, error);
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyConnectionRefusedError:
        return messageFor(Category::cannotConnect, description, error);
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::ProxyConnectionClosedError:
        return messageFor(Category::connectionLost, description, error);
    case QNetworkReply::SslHandshakeFailedError:
        return messageFor(Category::tls, description, error);
    case QNetworkReply::UnknownNetworkError:
        return messageFor(Category::unknown, description, error);
    default:
        return messageFor(Category::other, description, error);
    }
}
