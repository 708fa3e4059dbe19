#include "net/VoxleServerApi.h"

#include "net/ReplyWait.h"

#include "base/Async.h"
#include "base/Logging.h"
#include "net/VoxleEndpoints.h"
#include "platform/UserDefaults.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QHostAddress>
#include <QJsonObject>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QPointer>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QUuid>

namespace {
const QString kDeviceIdKey = QStringLiteral("voxle_device_id");

std::optional<QString> decodeUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

QString nonEmptyString(const QJsonValue &v)
{
    return v.isString() ? VoxleServerApi::displayableMessage(v.toString()) : QString();
}

QString sha256Hex(const QString &text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex());
}
} // namespace

VoxleServerApi::VoxleServerApi(QUrl baseUrl, QNetworkAccessManager &session, Clock &clock)
    : m_baseUrl(std::move(baseUrl)), m_session(session), m_clock(clock)
{
    useSystemProxy();
}

QNetworkRequest VoxleServerApi::makeRequest(const QUrl &url, const std::optional<QString> &token,
                                            const Headers &headers, const QByteArray &contentType) const
{
    QNetworkRequest request(url);
    // Redirects are followed only within the origin, so a token never travels to another host.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    if (!contentType.isEmpty())
        request.setRawHeader("Content-Type", contentType);
    if (token)
        request.setRawHeader("Authorization", "Bearer " + token->toUtf8());
    for (const auto &[name, value] : headers)
        request.setRawHeader(name.toUtf8(), value.toUtf8());
    return request;
}

QString VoxleServerApi::headerMapForLog(const QNetworkRequest &request)
{
    const QList<QByteArray> names = request.rawHeaderList();
    if (names.isEmpty())
        return QStringLiteral("[:]");
    QStringList entries;
    for (const QByteArray &name : names) {
        QString value = QString::fromUtf8(request.rawHeader(name));
        if (name.compare("Authorization", Qt::CaseInsensitive) == 0) {
            const qsizetype space = value.indexOf(QLatin1Char(' '));
            value = (space > 0 ? value.left(space + 1) : QString()) + QStringLiteral("<redacted>");
        }
        entries << QStringLiteral("\"%1\": \"%2\"").arg(QString::fromUtf8(name), value);
    }
    return QLatin1Char('[') + entries.join(QStringLiteral(", ")) + QLatin1Char(']');
}

namespace {
const QStringList &secretKeys()
{
    static const QStringList keys{QStringLiteral("token"), QStringLiteral("apiKey"), QStringLiteral("sliderToken"),
                                  QStringLiteral("code")};
    return keys;
}

// Qt keeps only the last of repeated keys, so a secret value can hide in the text behind a later repeat of its
// key; escapes can spell a key too.
bool mayHideSecret(const QString &text)
{
    if (text.contains(QLatin1String("\\u")))
        return true;
    for (const QString &key : secretKeys()) {
        if (text.contains(QLatin1Char('"') + key + QLatin1Char('"')))
            return true;
    }
    return false;
}

bool redactSecrets(QJsonValue &value)
{
    bool changed = false;
    if (value.isObject()) {
        QJsonObject o = value.toObject();
        for (auto it = o.begin(); it != o.end(); ++it) {
            QJsonValue v = it.value();
            if (secretKeys().contains(it.key()) && v.isString()) {
                it.value() = QStringLiteral("<redacted>");
                changed = true;
            } else if (redactSecrets(v)) {
                it.value() = v;
                changed = true;
            }
        }
        if (changed)
            value = o;
    } else if (value.isArray()) {
        QJsonArray a = value.toArray();
        for (qsizetype i = 0; i < a.size(); ++i) {
            QJsonValue v = a.at(i);
            if (redactSecrets(v)) {
                a.replace(i, v);
                changed = true;
            }
        }
        if (changed)
            value = a;
    }
    return changed;
}
} // namespace

QString VoxleServerApi::bodyForLog(const QString &text)
{
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8());
    QJsonValue value = doc.isObject() ? QJsonValue(doc.object()) : QJsonValue(doc.array());
    if (!doc.isObject() && !doc.isArray())
        return text;
    if (!redactSecrets(value) && !mayHideSecret(text))
        return text;
    const QJsonDocument redacted = value.isObject() ? QJsonDocument(value.toObject()) : QJsonDocument(value.toArray());
    return QString::fromUtf8(redacted.toJson(QJsonDocument::Compact));
}

QCoro::Task<VoxleServerApi::RawResponse> VoxleServerApi::postRaw(QString path, QJsonObject body,
                                                                 std::optional<QString> token, Headers headers,
                                                                 CancelToken cancel)
{
    const QUrl url = VoxleEndpoints::appendPath(m_baseUrl, path);
    QNetworkRequest request = makeRequest(url, token, headers, "application/json");
    const QByteArray bytes = QJsonDocument(body).toJson(QJsonDocument::Compact);
    qCDebug(lcNetworkApi).noquote() << "[VoxleServerApi] POST 请求地址:" << url.toString(QUrl::FullyEncoded);
    qCDebug(lcNetworkApi).noquote() << "[VoxleServerApi] POST 请求 Headers:" << headerMapForLog(request);
    if (const auto text = decodeUtf8(bytes))
        qCDebug(lcNetworkApi).noquote() << "[VoxleServerApi] POST 请求 Body:" << bodyForLog(*text);
    co_return co_await send(std::move(request), "POST", bytes, std::move(cancel));
}

QCoro::Task<VoxleServerApi::RawResponse> VoxleServerApi::getRaw(QString path, std::optional<QString> token,
                                                                Headers headers, CancelToken cancel)
{
    const QUrl url = VoxleEndpoints::appendPath(m_baseUrl, path);
    QNetworkRequest request = makeRequest(url, token, headers, QByteArray());
    qCDebug(lcNetworkApi).noquote() << "[VoxleServerApi] GET 请求地址:" << url.toString(QUrl::FullyEncoded);
    qCDebug(lcNetworkApi).noquote() << "[VoxleServerApi] GET 请求 Headers:" << headerMapForLog(request);
    co_return co_await send(std::move(request), "GET", QByteArray(), std::move(cancel));
}

QCoro::Task<VoxleServerApi::RawResponse> VoxleServerApi::uploadRaw(QString path, QByteArray fileData, QString fileName,
                                                                   QString mimeType, std::optional<QString> token,
                                                                   Headers headers, CancelToken cancel)
{
    const QUrl url = VoxleEndpoints::appendPath(m_baseUrl, path);
    qCDebug(lcNetworkApi).noquote() << "[VoxleServerApi] 上传文件请求地址:" << url.toString(QUrl::FullyEncoded);
    const QByteArray boundary = newBoundary();
    QNetworkRequest request = makeRequest(url, token, headers, "multipart/form-data; boundary=" + boundary);
    const QByteArray body = multipartBody(boundary, QStringLiteral("file"), fileName, mimeType, fileData);
    qCDebug(lcNetworkApi).noquote() << "[VoxleServerApi] 上传文件请求 Headers:" << headerMapForLog(request);
    qCDebug(lcNetworkApi).noquote() << QStringLiteral("[VoxleServerApi] 上传文件 文件名: %1, 大小: %2 bytes, MIME: %3")
                                           .arg(fileName)
                                           .arg(fileData.size())
                                           .arg(mimeType);
    co_return co_await send(std::move(request), "POST", body, std::move(cancel));
}

QCoro::Task<VoxleServerApi::RawResponse> VoxleServerApi::send(QNetworkRequest request, QByteArray verb, QByteArray body,
                                                              CancelToken cancel)
{
    if (cancel.isCancelled())
        throw VoxleTransportError(QNetworkReply::OperationCanceledError, QStringLiteral("cancelled"));

    QPointer<QNetworkReply> reply = verb == "GET" ? m_session.get(request) : m_session.post(request, body);
    // The reply dies with this call, whichever way it ends.
    const ReplyOwner owner = ownReply(reply.data());
    const ReplyEnd end = co_await awaitReply(reply, m_clock, kTimeoutMs, cancel);
    if (end == ReplyEnd::cancelled)
        throw VoxleTransportError(QNetworkReply::OperationCanceledError, QStringLiteral("cancelled"));
    if (end == ReplyEnd::timedOut)
        throw VoxleTransportError(QNetworkReply::TimeoutError, QStringLiteral("The request timed out."));
    if (end == ReplyEnd::tooLarge) {
        qCWarning(lcNetworkApi) << "[VoxleServerApi] 响应过大，已中止";
        throw VoxleApiError(QStringLiteral("返回解析失败"));
    }

    RawResponse raw;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid()) {
        raw.isHttp = true;
        raw.status = status.toInt();
        raw.body = reply->readAll();
        co_return raw;
    }
    if (reply->error() != QNetworkReply::NoError)
        throw VoxleTransportError(reply->error(), reply->errorString());
    raw.body = reply->readAll();
    co_return raw;
}

QJsonDocument VoxleServerApi::checkResponse(const RawResponse &raw)
{
    if (const auto text = decodeUtf8(raw.body))
        qCDebug(lcNetworkApi).noquote() << "[VoxleServerApi] 响应结果:" << bodyForLog(*text);
    else
        qCDebug(lcNetworkApi).noquote() << QStringLiteral(
                                               "[VoxleServerApi] 响应结果: (无法解析为字符串的数据，大小: %1 bytes)")
                                               .arg(raw.body.size());

    if (!raw.isHttp)
        throw VoxleApiError(QStringLiteral("连接失败：无响应"));
    if (raw.status >= 200 && raw.status <= 299)
        return QJsonDocument::fromJson(raw.body);
    if (auto message = serverErrorMessage(raw.body))
        throw VoxleApiError(*message);
    throw VoxleApiError(QStringLiteral("请求失败（HTTP %1）").arg(raw.status));
}

void VoxleServerApi::throwUndecodable(const QByteArray &body)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &parseError);
    QString description;
    if (parseError.error != QJsonParseError::NoError)
        description = body.isEmpty() ? QStringLiteral("empty body") : parseError.errorString();
    else if (!doc.isObject())
        description = QStringLiteral("expected a JSON object");
    else
        description = QStringLiteral("a required key is missing or has the wrong type");
    qCCritical(lcNetworkApi).noquote() << "[VoxleServerApi] 解码失败:" << description;
    throw VoxleApiError(QStringLiteral("返回解析失败"));
}

QString VoxleServerApi::displayableMessage(const QString &text)
{
    if (text.size() <= kMaxMessageChars)
        return text;
    qsizetype cut = kMaxMessageChars;
    if (text.at(cut - 1).isHighSurrogate())
        --cut;
    return text.left(cut) + QStringLiteral("…");
}

std::optional<QString> VoxleServerApi::serverErrorMessage(const QByteArray &body)
{
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    if (!doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    if (const QString m = nonEmptyString(o.value(QLatin1String("message"))); !m.isEmpty())
        return m;
    const QJsonValue detail = o.value(QLatin1String("detail"));
    if (const QString m = nonEmptyString(detail); !m.isEmpty())
        return m;
    // Any other shape reads as an empty object, with no message in it.
    if (const QString m = nonEmptyString(detail.toArray().first().toObject().value(QLatin1String("msg"))); !m.isEmpty())
        return m;
    if (const QString m = nonEmptyString(o.value(QLatin1String("error")).toObject().value(QLatin1String("message")));
        !m.isEmpty())
        return m;
    return std::nullopt;
}

QString VoxleServerApi::deviceIdentifier(UserDefaults &defaults)
{
    static const QRegularExpression hex64(QStringLiteral("^[0-9a-f]{64}$"));
    const QString stored = defaults.string(kDeviceIdKey).value_or(QString()).trimmed();
    if (!stored.isEmpty()) {
        const QString lower = stored.toLower();
        if (hex64.match(lower).hasMatch())
            return lower;
        const QString digest = sha256Hex(stored);
        defaults.setString(kDeviceIdKey, digest);
        return digest;
    }
    const QString digest = sha256Hex(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    defaults.setString(kDeviceIdKey, digest);
    return digest;
}

namespace {
// The system's proxy settings for everything but loopback: the stand-in service and a local collector are
// always reached directly.
class LoopbackDirectProxyFactory final : public QNetworkProxyFactory
{
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery &query) override
    {
        const QString host = query.peerHostName();
        QHostAddress address;
        if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
            (address.setAddress(host) && address.isLoopback()))
            return {QNetworkProxy(QNetworkProxy::NoProxy)};
        return systemProxyForQuery(query);
    }
};

// Qt's transport errors onto the rows the messages were written for; Qt's own (English) text is never shown.
QString transportMessage(QNetworkReply::NetworkError code)
{
    switch (code) {
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
        return QStringLiteral("网络未连接");
    case QNetworkReply::TimeoutError:
    case QNetworkReply::ProxyTimeoutError:
        return QStringLiteral("连接超时");
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("找不到服务器（网络未连接或需要代理）");
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("无法连接到服务器（可能需要代理或被网络阻断）");
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("网络连接中断");
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("TLS/证书握手失败（检查系统时间/网络代理）");
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
        return QStringLiteral("无法连接代理服务器（检查系统代理设置）");
    case QNetworkReply::OperationCanceledError:
        return QStringLiteral("请求已取消");
    default:
        return QStringLiteral("网络错误");
    }
}
} // namespace

void VoxleServerApi::useSystemProxy()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    QNetworkProxyFactory::setApplicationProxyFactory(new LoopbackDirectProxyFactory); // Qt owns it
}

QString VoxleServerApi::userMessage(const std::exception &error)
{
    if (const auto *api = dynamic_cast<const VoxleApiError *>(&error))
        return api->message;
    if (const auto *transport = dynamic_cast<const VoxleTransportError *>(&error))
        return transportMessage(transport->code);
    const QString description = QString::fromUtf8(error.what()).trimmed();
    return description.isEmpty() ? QStringLiteral("请求失败") : description;
}

QByteArray VoxleServerApi::multipartBody(const QByteArray &boundary, const QString &fieldName, const QString &fileName,
                                         const QString &mimeType, const QByteArray &fileData)
{
    static const QByteArray crlf = "\r\n";
    QByteArray body;
    body.reserve(fileData.size() + 2 * boundary.size() + fileName.size() + 160);
    body += "--" + boundary + crlf;
    body += "Content-Disposition: form-data; name=\"" + fieldName.toUtf8() + "\"; filename=\"" + fileName.toUtf8() +
            "\"" + crlf;
    body += "Content-Type: " + mimeType.toUtf8() + crlf + crlf;
    body += fileData;
    body += crlf;
    body += "--" + boundary + "--" + crlf;
    return body;
}

QByteArray VoxleServerApi::newBoundary()
{
    return "Boundary-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toLatin1();
}
