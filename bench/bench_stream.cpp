// stream: 60 s of PCM in 3,200-byte capture chunks through a ParaformerStreamingSession to voxle-localserver
// on loopback, with the product's default logging. Prints the client's CPU time per minute of audio and the delay
// from the client receiving a result frame to its partial callback (medians over the runs / partials); the
// stand-in's own delays are not counted.
#include "BenchRegistry.h"

#include "asr/DashScopeEndpoint.h"
#include "asr/ParaformerStreamingSession.h"
#include "base/SystemClock.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <cstdio>
#include <sys/resource.h>

namespace {
constexpr qsizetype chunkBytes = 3200;           // 100 ms, as capture delivers it
constexpr qsizetype audioBytes = 60 * 16000 * 2; // one minute
constexpr qsizetype bytesPerChar = 3200;         // the script reveals one character per 100 ms
constexpr int runs = 5;

struct CpuMs {
    double user = 0;
    double system = 0;
};

CpuMs processCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval &t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return CpuMs{ms(usage.ru_utime), ms(usage.ru_stime)};
}

QString serverPath()
{
    QString buildDir = qEnvironmentVariable("VOXLE_BUILD_DIR");
    if (buildDir.isEmpty())
        buildDir = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral(".."));
    return QDir(buildDir).filePath(QStringLiteral("localserver/voxle-localserver"));
}

bool postScript(quint16 port, const QJsonObject &script)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return false;
    const QByteArray body = QJsonDocument(script).toJson(QJsonDocument::Compact);
    socket.write("POST /__control/asr HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
                 QByteArray::number(body.size()) + "\r\n\r\n" + body);
    QByteArray in;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(5000))
        in += socket.readAll();
    return in.startsWith("HTTP/1.1 200");
}

QCoro::Task<> runStart(ParaformerStreamingSession *session, bool *done)
{
    try {
        co_await session->start();
    } catch (const StartError &) {
    }
    *done = true;
}

QCoro::Task<> runFinalize(ParaformerStreamingSession *session, std::optional<QString> *text, bool *done)
{
    *text = co_await session->finalize(30000);
    *done = true;
}

// Blocks in the event loop (no polling, which would be charged to the client) until condition() holds.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    // One timer for every wait, so the harness's own cost stays out of the client's figure.
    static QTimer *timer = [] {
        auto *t = new QTimer(QCoreApplication::instance());
        t->setSingleShot(true);
        return t;
    }();
    if (condition())
        return true;
    timer->start(timeoutMs);
    while (!condition()) {
        if (!timer->isActive())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    timer->stop();
    return true;
}

int benchStream(const QStringList &)
{
    QProcess server;
    server.setProgram(serverPath());
    server.setArguments({QStringLiteral("--port"), QStringLiteral("0")});
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start();
    if (!server.waitForStarted(10000) || !waitUntil([&] { return server.canReadLine(); }, 10000)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(serverPath()));
        return 1;
    }
    const QByteArray first = server.readLine().trimmed();
    const quint16 port = static_cast<quint16>(first.mid(5).toUInt());

    // A transcript long enough for the minute: sentences of 20 characters.
    const QString alphabet = QStringLiteral("今天天气不错我们去公园散步然后吃饭回家");
    QJsonArray sentences;
    const qsizetype chars = audioBytes / bytesPerChar;
    for (qsizetype i = 0; i < chars / 20; ++i)
        sentences.append(alphabet + QStringLiteral("。"));
    if (!postScript(port, QJsonObject{{QStringLiteral("sentences"), sentences},
                                      {QStringLiteral("bytes_per_char"), bytesPerChar},
                                      {QStringLiteral("task_started_delay_ms"), 0}})) {
        std::fprintf(stderr, "cannot script the stand-in\n");
        return 1;
    }

    SystemClock clock;
    const QByteArray chunk(chunkBytes, '\x01');
    std::vector<double> cpuMs;
    std::vector<double> userMs;
    std::vector<double> systemMs;
    std::vector<double> latencyMs;
    for (int run = 0; run < runs; ++run) {
        ParaformerStreamingSession session(clock, dashScopeRealtimeUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)),
                                           QStringLiteral("sk-local-test"), QStringLiteral("fun-asr-realtime"), 16000,
                                           std::nullopt);
        QElapsedTimer wall;
        wall.start();
        std::vector<qint64> partialAt;
        bool started = false;
        runStart(&session, &started);
        if (!waitUntil([&] { return started; }, 10000) || !session.findChild<QWebSocket *>()) {
            std::fprintf(stderr, "session did not start\n");
            return 1;
        }
        // The frame's arrival, stamped before the session's own handler runs (frames are signalled first).
        qint64 frameAt = 0;
        QObject::connect(session.findChild<QWebSocket *>(), &QWebSocket::textFrameReceived, &session,
                         [&]() { frameAt = wall.nsecsElapsed(); });
        session.onPartialUpdated = [&](const QString &) {
            partialAt.push_back(wall.nsecsElapsed());
            latencyMs.push_back((partialAt.back() - frameAt) / 1e6);
        };
        if (!waitUntil([&] { return session.state() == 1; }, 10000)) {
            std::fprintf(stderr, "no task-started\n");
            return 1;
        }
        std::vector<qint64> completedAt; // when the frame completing character n was handed to the session
        const CpuMs cpuBefore = processCpuMs();
        qint64 appended = 0;
        for (qsizetype sent = 0; sent < audioBytes; sent += chunkBytes) {
            const qint64 framedBefore =
                appended / ParaformerStreamingSession::frameBytes * ParaformerStreamingSession::frameBytes;
            session.appendAudio(chunk);
            session.startSendingIfNeeded();
            appended += chunkBytes;
            const qint64 framed =
                appended / ParaformerStreamingSession::frameBytes * ParaformerStreamingSession::frameBytes;
            for (qint64 c = framedBefore / bytesPerChar + 1; c <= framed / bytesPerChar; ++c)
                completedAt.push_back(wall.nsecsElapsed());
            // Paced by the service, like a live microphone: wait for the partial of each completed character.
            const size_t expected = completedAt.size();
            waitUntil([&] { return partialAt.size() >= expected; }, 200);
        }
        bool finished = false;
        std::optional<QString> text;
        runFinalize(&session, &text, &finished);
        waitUntil([&] { return finished; }, 30000);
        const CpuMs cpuAfter = processCpuMs();
        const double perMinute = 60.0 * 16000 * 2 / audioBytes;
        userMs.push_back((cpuAfter.user - cpuBefore.user) * perMinute);
        systemMs.push_back((cpuAfter.system - cpuBefore.system) * perMinute);
        cpuMs.push_back(userMs.back() + systemMs.back());
        if (!text || text->isEmpty()) {
            std::fprintf(stderr, "no final text\n");
            return 1;
        }
    }
    server.terminate();
    server.waitForFinished(5000);

    std::printf("stream_cpu_ms_per_audio_min=%.2f\n", benchMedian(cpuMs));
    // Where the time goes: on loopback the kernel's share includes the stand-in's TCP receive work.
    std::printf("stream_cpu_user_ms_per_audio_min=%.2f\n", benchMedian(userMs));
    std::printf("stream_cpu_system_ms_per_audio_min=%.2f\n", benchMedian(systemMs));
    std::printf("stream_partial_latency_ms=%.3f\n", benchMedian(latencyMs));
    std::printf("stream_partial_samples=%zu\n", latencyMs.size());
    return 0;
}

BenchRegistrar reg("stream", benchStream);
} // namespace
