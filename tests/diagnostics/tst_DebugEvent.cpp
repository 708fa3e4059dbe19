#include "diagnostics/DebugEvent.h"
#include "diagnostics/DebugEventConfig.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

namespace {
struct Request {
    QByteArray method;
    QByteArray path;
    QByteArray contentType;
    QByteArray body;
};

// A minimal HTTP collector on a loopback port: records each request and answers 200.
class Collector : public QObject
{
public:
    QList<Request> requests;

    bool listen(quint16 port = 0)
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
            }
        });
        return m_server.listen(QHostAddress::LocalHost, port);
    }
    quint16 port() const { return m_server.serverPort(); }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/event").arg(port()); }

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

QJsonObject bodyOf(const Request &request)
{
    return QJsonDocument::fromJson(request.body).object();
}
} // namespace

class TestDebugEvent : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;

    void writeDiagnosticsFile(const QByteArray &content)
    {
        QDir(m_home.path()).mkpath(QStringLiteral(".dbg"));
        QFile file(m_home.path() + QStringLiteral("/.dbg/fn-hotkey-not-effective.env"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }
    void removeDiagnosticsFile() { QFile::remove(m_home.path() + QStringLiteral("/.dbg/fn-hotkey-not-effective.env")); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("HOME", m_home.path().toLocal8Bit());
        QCOMPARE(QDir::homePath(), m_home.path());
    }

    void send_fileWithOnlyUrl_postsRecordWithDefaultSessionIdFromAnyThread()
    {
        Collector collector;
        QVERIFY(collector.listen());
        writeDiagnosticsFile("DEBUG_SERVER_URL=" + collector.url().toUtf8() + "\n");

        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        // Hotkey and audio code call in from their own threads.
        QScopedPointer<QThread> thread(QThread::create([] {
            sendDebugEvent(QStringLiteral("TextInjectionService.injectAtCursor"),
                           QStringLiteral("[DEBUG] inject enter"), QStringLiteral("C"),
                           QJsonObject{{QStringLiteral("flags"), qint64(8388608)}, {QStringLiteral("fn"), true}});
        }));
        thread->start();
        QVERIFY(thread->wait(5000));
        QTRY_COMPARE(collector.requests.size(), 1);

        const Request &request = collector.requests.first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.path, QByteArray("/event"));
        QCOMPARE(request.contentType, QByteArray("application/json"));
        QVERIFY2(!request.body.contains('\n') && !request.body.contains(": "), request.body.constData()); // compact
        const QJsonObject event = bodyOf(request);
        QCOMPARE(event.keys(), (QStringList{QStringLiteral("data"), QStringLiteral("hypothesisId"),
                                            QStringLiteral("location"), QStringLiteral("msg"), QStringLiteral("runId"),
                                            QStringLiteral("sessionId"), QStringLiteral("ts")}));
        for (const auto &[key, value] : {std::pair{"sessionId", "fn-hotkey-not-effective"},
                                         {"runId", "pre-fix"},
                                         {"hypothesisId", "C"},
                                         {"location", "TextInjectionService.injectAtCursor"},
                                         {"msg", "[DEBUG] inject enter"}})
            QCOMPARE(event.value(QLatin1String(key)).toString(), QString::fromUtf8(value));
        // Integers travel as JSON integers, never as 12.0 or 1.7e12.
        QVERIFY2(request.body.contains("\"data\":{\"flags\":8388608,\"fn\":true}"), request.body.constData());
        const QByteArray tsText = request.body.mid(request.body.indexOf("\"ts\":") + 5);
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d{13}[,}]")).match(QString::fromLatin1(tsText)).hasMatch(),
                 request.body.constData());
        const qint64 ts = event.value(QStringLiteral("ts")).toInteger();
        QVERIFY(ts >= before && ts <= QDateTime::currentMSecsSinceEpoch());
    }

    void send_lastLineWinsAndOtherLinesAreIgnored()
    {
        Collector collector;
        QVERIFY(collector.listen());
        writeDiagnosticsFile("# comment\n\nDEBUG_SESSION_ID=first\nDEBUG_SERVER_URL=http://127.0.0.1:1/x\n"
                             "debug_session_id=lower\nDEBUG_SERVER_URL=" +
                             collector.url().toUtf8() + "\nDEBUG_SESSION_ID= 会话 2 \n");
        sendDebugEvent(QStringLiteral("VoxleAppState.cancelRecording"),
                       QStringLiteral("[DEBUG] cancelRecording called"), QString());
        QTRY_COMPARE(collector.requests.size(), 1);
        const QJsonObject event = bodyOf(collector.requests.first());
        QCOMPARE(event.value(QStringLiteral("sessionId")).toString(), QStringLiteral(" 会话 2 ")); // untrimmed
        QCOMPARE(event.value(QStringLiteral("hypothesisId")).toString(), QString());
        // No data given: still an empty object.
        QVERIFY2(collector.requests.first().body.contains("\"data\":{}"), collector.requests.first().body.constData());
    }

    void send_carriageReturnInUrl_sendsNothing()
    {
        Collector collector;
        QVERIFY(collector.listen());
        writeDiagnosticsFile("DEBUG_SERVER_URL=" + collector.url().toUtf8() + "\r\nDEBUG_SESSION_ID=crlf\r\n");
        sendDebugEvent(QStringLiteral("A.b"), QStringLiteral("dropped"), QStringLiteral("A"));

        // A later valid event is the marker: once it arrived, the dropped one would have arrived before it.
        writeDiagnosticsFile("DEBUG_SERVER_URL=" + collector.url().toUtf8() + "\nDEBUG_SESSION_ID=crlf\r\n");
        sendDebugEvent(QStringLiteral("A.b"), QStringLiteral("marker"), QStringLiteral("A"));
        QTRY_COMPARE(collector.requests.size(), 1);
        QTest::qWait(100); // a little grace for a stray connection
        QCOMPARE(collector.requests.size(), 1);
        const QJsonObject event = bodyOf(collector.requests.first());
        QCOMPARE(event.value(QStringLiteral("msg")).toString(), QStringLiteral("marker"));
        // The carriage return stays part of the session id.
        QCOMPARE(event.value(QStringLiteral("sessionId")).toString(), QStringLiteral("crlf\r"));
    }

    void send_onlySessionIdInFile_usesDefaultCollector()
    {
        // The default collector port is fixed; when something else holds it this case cannot run here.
        Collector collector;
        if (!collector.listen(7777))
            QSKIP("127.0.0.1:7777 is in use on this machine");
        writeDiagnosticsFile("DEBUG_SESSION_ID=only-session\n");
        sendDebugEvent(QStringLiteral("A.b"), QStringLiteral("m"), QStringLiteral("A"));
        removeDiagnosticsFile();
        sendDebugEvent(QStringLiteral("A.b"), QStringLiteral("no file"), QStringLiteral("A"));
        QTRY_COMPARE(collector.requests.size(), 2);
        QStringList seen;
        for (const Request &request : std::as_const(collector.requests)) {
            QCOMPARE(request.path, QByteArray("/event"));
            const QJsonObject event = bodyOf(request);
            seen << event.value(QStringLiteral("msg")).toString() + QLatin1Char('|') +
                        event.value(QStringLiteral("sessionId")).toString();
        }
        seen.sort();
        QCOMPARE(seen,
                 (QStringList{QStringLiteral("m|only-session"), QStringLiteral("no file|fn-hotkey-not-effective")}));
    }

    void config_fileCutInsideACharacter_readsAsDefaults()
    {
        // Not UTF-8 once the last character is cut in half, so neither value is taken.
        const DebugEventConfig config =
            DebugEventConfig::fromFileContents("DEBUG_SESSION_ID=\xe4\xbc\x9a\nDEBUG_SERVER_URL=http://h/\xe4\xbc");
        QCOMPARE(config.sessionId, DebugEventConfig().sessionId);
        QCOMPARE(config.collectorUrl, DebugEventConfig().collectorUrl);
    }

    void send_noCollector_doesNotSlowTheCaller()
    {
        // Nothing listens on a port just released, nor (usually) on the default one.
        quint16 deadPort = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            deadPort = probe.serverPort();
        }
        const QList<QByteArray> files = {
            "DEBUG_SERVER_URL=http://127.0.0.1:" + QByteArray::number(deadPort) + "/event\n", QByteArray()};
        for (const QByteArray &file : files) {
            if (file.isEmpty())
                removeDiagnosticsFile();
            else
                writeDiagnosticsFile(file);
            qint64 slowest = 0;
            for (int i = 0; i < 50; ++i) {
                QElapsedTimer timer;
                timer.start();
                sendDebugEvent(QStringLiteral("A.b"), QStringLiteral("nobody listens"), QStringLiteral("A"),
                               QJsonObject{{QStringLiteral("i"), i}});
                slowest = qMax(slowest, timer.elapsed());
            }
            // A sanity bound, not a performance figure: the call only reads a small file and queues the POST.
            QVERIFY2(slowest < 50, qPrintable(QStringLiteral("slowest call took %1 ms").arg(slowest)));
        }
        QTest::qWait(200); // let the refused connections finish before the sender shuts down
    }
};

QTEST_GUILESS_MAIN(TestDebugEvent)
#include "tst_DebugEvent.moc"
