#pragma once

#include "DesktopChild.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTimer>
#include <QUrl>
#include <csignal>
#include <sys/prctl.h>

// The real voxle-localserver as a child process of the test, on a port of its own choosing, plus blocking
// helpers for its test controls.
class LocalServerProcess
{
public:
    LocalServerProcess()
    {
        // A test killed at its timeout must not leave its stand-in behind; its log is the test's.
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }
    ~LocalServerProcess() { DesktopChild::stop(m_process); }

    bool start(const QStringList &args = {})
    {
        m_process.start(qEnvironmentVariable("VOXLE_BUILD_DIR") + QStringLiteral("/localserver/voxle-localserver"),
                        args);
        // "port=N", and with a certificate "tls_port=N" after it.
        const int lines = args.contains(QStringLiteral("--tls-cert")) ? 2 : 1;
        QByteArray out;
        while (out.count('\n') < lines && m_process.waitForReadyRead(15000))
            out += m_process.readAllStandardOutput();
        m_port = out.mid(5, out.indexOf('\n') - 5).trimmed().toUShort();
        m_tlsPort = lines == 2 ? out.mid(out.indexOf("tls_port=") + 9).trimmed().toUShort() : 0;
        return m_port != 0 && (lines == 1 || m_tlsPort != 0);
    }

    quint16 port() const { return m_port; }
    quint16 tlsPort() const { return m_tlsPort; }
    QUrl origin() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port)); }

    // One blocking request; returns the status (0 on a transport failure) and fills `body`.
    int request(const QByteArray &verb, const QString &path, const QByteArray &payload = {}, QByteArray *body = nullptr)
    {
        QNetworkRequest request(QUrl(origin().toString() + path));
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        QNetworkReply *reply = m_nam.sendCustomRequest(request, verb, payload);
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        if (body)
            *body = reply->readAll();
        reply->deleteLater();
        return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    }

    QJsonObject getJson(const QString &path)
    {
        QByteArray body;
        request("GET", path, {}, &body);
        return QJsonDocument::fromJson(body).object();
    }

    // Scripted answers for the backend endpoints; `reset` also forgets users, sessions, events and the log.
    bool script(const QJsonArray &rules, bool reset = true)
    {
        const QJsonObject control{{QStringLiteral("rules"), rules}, {QStringLiteral("reset"), reset}};
        return request("POST", QStringLiteral("/__control/backend"), QJsonDocument(control).toJson()) == 200;
    }

    static QJsonObject rule(const QString &method, const QString &path, int status, const QByteArray &body)
    {
        return QJsonObject{{QStringLiteral("method"), method},
                           {QStringLiteral("path"), path},
                           {QStringLiteral("status"), status},
                           {QStringLiteral("body"), QString::fromUtf8(body)}};
    }
    // A rule under which `path` accepts the request and never answers.
    static QJsonArray hang(const QString &path)
    {
        return {QJsonObject{{QStringLiteral("path"), path}, {QStringLiteral("hang"), true}}};
    }

    // The requests the backend endpoints have seen since the last reset, oldest first.
    QJsonArray requests()
    {
        return getJson(QStringLiteral("/__control/backend/requests")).value(QStringLiteral("requests")).toArray();
    }
    QJsonArray requestsTo(const QString &path)
    {
        QJsonArray matching;
        for (const QJsonValue &r : requests())
            if (r.toObject().value(QStringLiteral("path")).toString() == path)
                matching.append(r);
        return matching;
    }
    QJsonArray usageEvents()
    {
        return getJson(QStringLiteral("/__control/usage")).value(QStringLiteral("events")).toArray();
    }

    // The realtime recognition endpoint's script and its per-connection log.
    bool setAsrScript(const QJsonObject &script)
    {
        return request("POST", QStringLiteral("/__control/asr"), QJsonDocument(script).toJson()) == 200;
    }
    QJsonArray asrConnections()
    {
        return getJson(QStringLiteral("/__control/asr/log")).value(QStringLiteral("connections")).toArray();
    }

private:
    QProcess m_process;
    QNetworkAccessManager m_nam;
    quint16 m_port = 0;
    quint16 m_tlsPort = 0;
};
