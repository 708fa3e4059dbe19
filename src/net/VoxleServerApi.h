#pragma once

#include "base/CancelToken.h"
#include "base/Clock.h"
#include "net/VoxleApiError.h"
#include "net/VoxleWireRecords.h"

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QJsonDocument>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPair>
#include <QUrl>
#include <exception>
#include <optional>

class UserDefaults;

// The backend's HTTP client. Stateless: callers make one per operation with the backend base URL and the
// process-wide QNetworkAccessManager, and drop it afterwards. Every call has a 60 s timeout on the injected
// clock and ends at once (reply aborted) when its cancel token is cancelled.
//
// Failures are thrown: VoxleApiError (a message for the user) or VoxleTransportError (no connection,
// timeout, TLS, cancellation), and stay in this layer: callers outside src/net await `settle(call)`
// (net/Settle.h), which turns them into a Result carrying `userMessage`, the text to show.
class VoxleServerApi
{
public:
    using Headers = QList<QPair<QString, QString>>;

    // What came back from the wire, before it is judged.
    struct RawResponse {
        bool isHttp = false;
        int status = 0;
        QByteArray body;
    };

    static constexpr qint64 kTimeoutMs = 60000;

    VoxleServerApi(QUrl baseUrl, QNetworkAccessManager &session, Clock &clock);

    const QUrl &baseUrl() const { return m_baseUrl; }

    template <typename Response, typename Request>
    QCoro::Task<Response> post(QString path, Request body, std::optional<QString> token, Headers headers,
                               CancelToken cancel = {})
    {
        const RawResponse raw =
            co_await postRaw(std::move(path), body.toJson(), std::move(token), std::move(headers), std::move(cancel));
        co_return decodeResponse<Response>(raw);
    }

    template <typename Response>
    QCoro::Task<Response> get(QString path, std::optional<QString> token, Headers headers, CancelToken cancel = {})
    {
        const RawResponse raw =
            co_await getRaw(std::move(path), std::move(token), std::move(headers), std::move(cancel));
        co_return decodeResponse<Response>(raw);
    }

    template <typename Response>
    QCoro::Task<Response> uploadFile(QString path, QByteArray fileData, QString fileName, QString mimeType,
                                     std::optional<QString> token, Headers headers, CancelToken cancel = {})
    {
        const RawResponse raw =
            co_await uploadRaw(std::move(path), std::move(fileData), std::move(fileName), std::move(mimeType),
                               std::move(token), std::move(headers), std::move(cancel));
        co_return decodeResponse<Response>(raw);
    }

    QCoro::Task<RawResponse> postRaw(QString path, QJsonObject body, std::optional<QString> token, Headers headers,
                                     CancelToken cancel);
    QCoro::Task<RawResponse> getRaw(QString path, std::optional<QString> token, Headers headers, CancelToken cancel);
    QCoro::Task<RawResponse> uploadRaw(QString path, QByteArray fileData, QString fileName, QString mimeType,
                                       std::optional<QString> token, Headers headers, CancelToken cancel);

    // The common response step: logs the body, then returns the decoded record of a 2xx answer or throws
    // VoxleApiError ("连接失败：无响应", "返回解析失败", the server's message, "请求失败（HTTP n）").
    // `Response` is a record with `fromJson`, or std::optional<record> (a JSON null body then decodes as
    // no value).
    template <typename Response> static Response decodeResponse(const RawResponse &raw)
    {
        const QJsonDocument doc = checkResponse(raw);
        if constexpr (IsOptional<Response>::value) {
            if (raw.body.trimmed() == "null")
                return std::nullopt;
            using Inner = typename Response::value_type;
            if (doc.isObject())
                if (auto record = Inner::fromJson(doc.object()))
                    return record;
        } else {
            if (doc.isObject())
                if (auto record = Response::fromJson(doc.object()))
                    return *record;
        }
        throwUndecodable(raw.body);
    }

    // A message read out of a backend error body (cut to displayableMessage), or nothing.
    static std::optional<QString> serverErrorMessage(const QByteArray &body);
    // A message from a server as the user is shown it: at most kMaxMessageChars, longer ones cut with "…".
    // Views show it as plain text.
    static constexpr qsizetype kMaxMessageChars = 200;
    static QString displayableMessage(const QString &text);

    // The installation's 64-hex-digit identifier, created and stored under "voxle_device_id" on first use.
    static QString deviceIdentifier(UserDefaults &defaults);

    // Connections follow the system proxy settings, loopback ones always go direct. Idempotent.
    static void useSystemProxy();

    // The one mapping from a thrown error to the message shown to the user (net/Settle.h applies it).
    static QString userMessage(const std::exception &error);

    // The multipart form body of one file part, byte for byte as the backend expects it.
    static QByteArray multipartBody(const QByteArray &boundary, const QString &fieldName, const QString &fileName,
                                    const QString &mimeType, const QByteArray &fileData);
    // "Boundary-" + a fresh upper-case UUID.
    static QByteArray newBoundary();

    // The header map as the log shows it, e.g. ["Content-Type": "application/json"], "[:]" when empty. The
    // Authorization value is redacted: bearer tokens never reach the log.
    static QString headerMapForLog(const QNetworkRequest &request);
    // A UTF-8 body as the log shows it: unchanged, except that the secret values of JSON bodies (the sign-in
    // token, the DashScope key, the captcha token) are redacted.
    static QString bodyForLog(const QString &text);

private:
    template <typename T> struct IsOptional : std::false_type {
    };
    template <typename T> struct IsOptional<std::optional<T>> : std::true_type {
    };

    // Logs the body and applies the status rules; returns the parsed body of a 2xx answer (null when it is
    // not JSON). Throws VoxleApiError for everything else.
    static QJsonDocument checkResponse(const RawResponse &raw);
    [[noreturn]] static void throwUndecodable(const QByteArray &body);

    QNetworkRequest makeRequest(const QUrl &url, const std::optional<QString> &token, const Headers &headers,
                                const QByteArray &contentType) const;
    QCoro::Task<RawResponse> send(QNetworkRequest request, QByteArray verb, QByteArray body, CancelToken cancel);

    QUrl m_baseUrl;
    QNetworkAccessManager &m_session;
    Clock &m_clock;
};
