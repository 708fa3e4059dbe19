#include "LocalServerProcess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QJsonDocument>
#include <QTcpSocket>

LocalServerProcess::LocalServerProcess(const QStringList &extraArgs)
{
    const QString buildDir = qEnvironmentVariable("VOXLE_BUILD_DIR");
    const QString program = QDir(buildDir).filePath(QStringLiteral("localserver/voxle-localserver"));
    m_process.setProgram(program);
    m_process.setArguments(QStringList{QStringLiteral("--port"), QStringLiteral("0")} + extraArgs);
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.setReadChannel(QProcess::StandardOutput);
    m_process.start();
    if (!m_process.waitForStarted(10000)) {
        m_error = QStringLiteral("cannot start %1: %2").arg(program, m_process.errorString());
        return;
    }
    const QDeadlineTimer deadline(15000);
    while (!m_process.canReadLine() && !deadline.hasExpired()) {
        if (!m_process.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime()))))
            break;
    }
    const QByteArray line = m_process.readLine().trimmed();
    if (!line.startsWith("port=")) {
        m_error = QStringLiteral("unexpected first line: ") + QString::fromUtf8(line) +
                  QString::fromUtf8(m_process.readAllStandardError());
        return;
    }
    m_port = static_cast<quint16>(line.mid(5).toUInt());
}

LocalServerProcess::~LocalServerProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
}

QString LocalServerProcess::origin() const
{
    return QStringLiteral("ws://127.0.0.1:%1").arg(m_port);
}

int LocalServerProcess::request(const QByteArray &method, const QByteArray &path, const QByteArray &body,
                                QByteArray *responseBody, const QList<QPair<QByteArray, QByteArray>> &headers)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_port);
    if (!socket.waitForConnected(5000))
        return 0;
    QByteArray out = method + ' ' + path +
                     " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n";
    for (const auto &h : headers)
        out += h.first + ": " + h.second + "\r\n";
    out += "\r\n" + body;
    socket.write(out);
    QByteArray in;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(5000))
        in += socket.readAll();
    in += socket.readAll();
    const qsizetype headEnd = in.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return 0;
    if (responseBody)
        *responseBody = in.mid(headEnd + 4);
    const QList<QByteArray> statusLine = in.left(in.indexOf("\r\n")).split(' ');
    return statusLine.size() >= 2 ? statusLine.at(1).toInt() : 0;
}

bool LocalServerProcess::setAsrScript(const QJsonObject &script)
{
    return request("POST", "/__control/asr", QJsonDocument(script).toJson(QJsonDocument::Compact)) == 200;
}

QJsonObject LocalServerProcess::asrLog()
{
    QByteArray body;
    if (request("GET", "/__control/asr/log", {}, &body) != 200)
        return {};
    return QJsonDocument::fromJson(body).object();
}
