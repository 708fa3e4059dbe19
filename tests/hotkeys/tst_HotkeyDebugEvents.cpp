// The interpreter's diagnostic records, received by a collector on a loopback port.
#include "FakeHotkeyHost.h"
#include "QuietDebugEvents.h"
#include "hotkeys/GlobalHotkeyService.h"
#include "platform/fake/FakeKeyEventTap.h"
#include "platform/fake/ManualClock.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <memory>

using namespace KeyTap;

namespace {
// Records the JSON body of each POST and answers 200.
class Collector : public QObject
{
public:
    QList<QJsonObject> events;

    Collector()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
            }
        });
        m_server.listen(QHostAddress::LocalHost, 0);
    }
    QByteArray url() const
    {
        return QByteArrayLiteral("http://127.0.0.1:") + QByteArray::number(m_server.serverPort()) + "/event";
    }

    // The records with this message, in arrival order.
    QList<QJsonObject> withMessage(const QString &message) const
    {
        QList<QJsonObject> found;
        for (const QJsonObject &e : events) {
            if (e.value(QStringLiteral("msg")).toString() == message)
                found << e;
        }
        return found;
    }

private:
    void readFrom(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        qsizetype length = 0;
        for (const QByteArray &line : buffer.left(headerEnd).split('\n')) {
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        }
        if (buffer.size() < headerEnd + 4 + length)
            return;
        events << QJsonDocument::fromJson(buffer.mid(headerEnd + 4, length)).object();
        m_buffers.remove(socket);
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};
} // namespace

class TestHotkeyDebugEvents : public QObject
{
    Q_OBJECT

    std::unique_ptr<Collector> m_collector;
    std::unique_ptr<QuietDebugEvents> m_home;

private slots:
    void init()
    {
        m_collector = std::make_unique<Collector>();
        m_home = std::make_unique<QuietDebugEvents>(m_collector->url());
    }

    void start_listenOnlyFallback_reportsEachStep()
    {
        ManualClock clock;
        FakeKeyEventTap tap;
        FakeHotkeyHost host;
        tap.refuseActiveFilter = true;
        GlobalHotkeyService service(host, tap, clock);
        service.start();
        QTRY_COMPARE(m_collector->events.size(), 3);
        const QJsonObject first = m_collector->withMessage(QStringLiteral("[DEBUG] hotkey service start")).value(0);
        QCOMPARE(first.value(QStringLiteral("location")).toString(), QStringLiteral("GlobalHotkeyService.start"));
        QCOMPARE(first.value(QStringLiteral("hypothesisId")).toString(), QStringLiteral("A"));
        QCOMPARE(first.value(QStringLiteral("data")).toObject(),
                 (QJsonObject{{QStringLiteral("preflightListenEventAccess"), true},
                              {QStringLiteral("scheme"), QStringLiteral("Fn")}}));
        QCOMPARE(m_collector->withMessage(QStringLiteral("[DEBUG] event tap created in listenOnly mode")).size(), 1);
        QCOMPARE(m_collector->withMessage(QStringLiteral("[DEBUG] event tap enabled"))
                     .value(0)
                     .value(QStringLiteral("data"))
                     .toObject(),
                 (QJsonObject{{QStringLiteral("listenOnly"), true}}));
    }

    void start_refused_reportsFailure()
    {
        ManualClock clock;
        FakeKeyEventTap tap;
        FakeHotkeyHost host;
        host.scheme = HotkeyScheme::custom;
        tap.refuseActiveFilter = tap.refuseListenOnly = true;
        GlobalHotkeyService service(host, tap, clock);
        service.start();
        QTRY_COMPARE(m_collector->withMessage(QStringLiteral("[DEBUG] CGEvent.tapCreate failed")).size(), 1);
        QCOMPARE(m_collector->withMessage(QStringLiteral("[DEBUG] CGEvent.tapCreate failed"))
                     .value(0)
                     .value(QStringLiteral("data"))
                     .toObject(),
                 (QJsonObject{{QStringLiteral("listenEventAccess"), true}}));
    }

    void fnScheme_edgeAndCombos_reportTheirData()
    {
        ManualClock clock;
        FakeKeyEventTap tap;
        FakeHotkeyHost host;
        GlobalHotkeyService service(host, tap, clock);
        service.start();
        tap.flags(keyFn, flagFn);
        tap.keyDown(keySpace, flagFn);
        tap.flags(keyShift, flagFn | flagShift);
        host.status = HotkeyHost::DictationStatus::recording;
        host.mode = DictationMode::translate;
        tap.flags(keyShift, flagFn);
        tap.flags(keyFn, 0);
        tap.flags(keyFn, flagFn);
        QTRY_COMPARE(m_collector->withMessage(QStringLiteral("[DEBUG] fn stop recording")).size(), 1);
        QTRY_COMPARE(m_collector->withMessage(QStringLiteral("[DEBUG] fn edge detected")).size(), 2);

        const QList<QJsonObject> edges = m_collector->withMessage(QStringLiteral("[DEBUG] fn edge detected"));
        QCOMPARE(edges.at(0).value(QStringLiteral("location")).toString(),
                 QStringLiteral("GlobalHotkeyService.handleEvent(flagsChanged)"));
        QCOMPARE(edges.at(0).value(QStringLiteral("data")).toObject(),
                 (QJsonObject{{QStringLiteral("keyCode"), 63},
                              {QStringLiteral("fnNow"), true},
                              {QStringLiteral("fnDown"), false},
                              {QStringLiteral("status"), QStringLiteral("空闲")}}));
        QCOMPARE(edges.at(1).value(QStringLiteral("data")).toObject().value(QStringLiteral("status")).toString(),
                 QStringLiteral("录音中"));
        QCOMPARE(m_collector->withMessage(QStringLiteral("[DEBUG] fn stop recording"))
                     .value(0)
                     .value(QStringLiteral("data"))
                     .toObject(),
                 (QJsonObject{{QStringLiteral("activeMode"), QStringLiteral("语音翻译")}}));
        const QJsonObject space = m_collector->withMessage(QStringLiteral("[DEBUG] fn + space trigger")).value(0);
        QCOMPARE(space.value(QStringLiteral("location")).toString(),
                 QStringLiteral("GlobalHotkeyService.handleEvent(keyDown)"));
        QCOMPARE(space.value(QStringLiteral("data")).toObject(), (QJsonObject{{QStringLiteral("keyCode"), 49}}));
        QCOMPARE(m_collector->withMessage(QStringLiteral("[DEBUG] fn + left shift trigger")).size(), 1);
        QCOMPARE(m_collector->withMessage(QStringLiteral("[DEBUG] fn-scheme flagsChanged evaluated")).size(), 5);

        const QJsonObject key = m_collector->withMessage(QStringLiteral("[DEBUG] key event")).value(0);
        QCOMPARE(key.value(QStringLiteral("location")).toString(),
                 QStringLiteral("GlobalHotkeyService.handleEvent(key)"));
        QCOMPARE(key.value(QStringLiteral("data")).toObject(),
                 (QJsonObject{{QStringLiteral("scheme"), QStringLiteral("Fn")},
                              {QStringLiteral("type"), 10},
                              {QStringLiteral("keyCode"), 49},
                              {QStringLiteral("fn"), true},
                              {QStringLiteral("shift"), false},
                              {QStringLiteral("control"), false},
                              {QStringLiteral("command"), false},
                              {QStringLiteral("isRepeat"), false}}));
        const QJsonObject flags = m_collector->withMessage(QStringLiteral("[DEBUG] flagsChanged")).value(1);
        QCOMPARE(flags.value(QStringLiteral("data")).toObject(),
                 (QJsonObject{{QStringLiteral("scheme"), QStringLiteral("Fn")},
                              {QStringLiteral("keyCode"), 56},
                              {QStringLiteral("fn"), true},
                              {QStringLiteral("shift"), true},
                              {QStringLiteral("control"), false},
                              {QStringLiteral("command"), false}}));
    }
};

QTEST_GUILESS_MAIN(TestHotkeyDebugEvents)
#include "tst_HotkeyDebugEvents.moc"
