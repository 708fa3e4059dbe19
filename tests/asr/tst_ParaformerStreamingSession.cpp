#include "asr/DashScopeEndpoint.h"
#include "asr/ParaformerStreamingSession.h"
#include "net/TlsFixture.h"
#include "platform/fake/ManualClock.h"
#include "support/LocalServerProcess.h"
#include "support/LogCapture.h"

#include <QCoro/QCoroTask>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>
#include <QWebSocketServer>
#include <QtEndian>
#include <memory>
#include <optional>

namespace {
using FinalResult = std::optional<std::optional<QString>>; // outer: finalize has returned

QCoro::Task<> collectFinal(ParaformerStreamingSession *session, qint64 timeoutMs, FinalResult *out)
{
    *out = co_await session->finalize(timeoutMs);
}

struct Started {
    bool done = false;
    std::optional<StartError> error;
};

QCoro::Task<> collectStart(ParaformerStreamingSession *session, Started *out)
{
    try {
        co_await session->start();
    } catch (const StartError &e) {
        out->error = e;
    }
    out->done = true;
}

QJsonObject header(const QJsonValue &message)
{
    return message.toObject().value(QStringLiteral("json")).toObject().value(QStringLiteral("header")).toObject();
}
} // namespace

class TestParaformerStreamingSession : public QObject
{
    Q_OBJECT

    LocalServerProcess m_server;
    std::optional<LogCapture> m_log;
    ManualClock m_clock;
    QStringList m_partials;

    // `port`: a loopback service other than the stand-in.
    std::unique_ptr<ParaformerStreamingSession> makeSession(const QString &apiKey = QStringLiteral("sk-local-test"),
                                                            quint16 port = 0)
    {
        const QString origin = port ? QStringLiteral("ws://127.0.0.1:%1").arg(port) : m_server.origin().toString();
        auto session = std::make_unique<ParaformerStreamingSession>(m_clock, dashScopeRealtimeUrl(origin), apiKey,
                                                                    QStringLiteral("fun-asr-realtime"), 16000,
                                                                    QStringList{QStringLiteral("zh")});
        m_partials.clear();
        session->onPartialUpdated = [this](const QString &text) { m_partials << text; };
        return session;
    }

    // True once start has returned without an error.
    static bool startNow(ParaformerStreamingSession &session)
    {
        Started started;
        collectStart(&session, &started);
        return QTest::qWaitFor([&] { return started.done; }, 10000) && !started.error;
    }

    // A started session (real loopback I/O) that has been handed `bytes` of PCM; null when start failed.
    std::unique_ptr<ParaformerStreamingSession> streaming(const QByteArray &script, qsizetype bytes,
                                                          const QString &apiKey = QStringLiteral("sk-local-test"))
    {
        if (!m_server.setAsrScript(QJsonDocument::fromJson(script).object()))
            return nullptr;
        auto session = makeSession(apiKey);
        if (!startNow(*session))
            return nullptr;
        session->appendAudio(QByteArray(bytes, 1));
        session->startSendingIfNeeded();
        return session;
    }

    FinalResult finalizeNow(ParaformerStreamingSession &session)
    {
        FinalResult result;
        collectFinal(&session, 30000, &result);
        if (!QTest::qWaitFor([&] { return result.has_value(); }, 10000)) {
            session.cancel(); // the coroutine writes into `result`: it must end before this frame does
            (void)QTest::qWaitFor([&] { return result.has_value(); }, 10000);
            return std::optional<QString>(QStringLiteral("<finalize did not return>"));
        }
        return result;
    }

    QString finalText(ParaformerStreamingSession &session)
    {
        return finalizeNow(session)->value_or(QStringLiteral("<none>"));
    }

    QJsonObject lastConnection() { return m_server.asrConnections().last().toObject(); }

    // What the last connection received: actions of text messages, sizes of binary ones.
    QStringList received()
    {
        QStringList out;
        for (const QJsonValue &v : lastConnection().value(QStringLiteral("messages")).toArray()) {
            const QString type = v.toObject().value(QStringLiteral("type")).toString();
            if (type == QStringLiteral("binary"))
                out << QString::number(v.toObject().value(QStringLiteral("size")).toInt());
            else if (type == QStringLiteral("text"))
                out << header(v).value(QStringLiteral("action")).toString();
        }
        return out;
    }

    // Runs finalize and its 30 s timeout on the manual clock: nothing a millisecond early; what it gave then.
    void finalizeAtDeadline(ParaformerStreamingSession &session, FinalResult &result)
    {
        collectFinal(&session, 30000, &result);
        QTRY_COMPARE(m_clock.pendingTimers(), 1);
        QCOMPARE(m_clock.nextDue() - m_clock.elapsedMs(), 30000);
        m_clock.advance(29999);
        QCoreApplication::processEvents();
        QVERIFY(!result.has_value());
        m_clock.advance(1);
        QTRY_VERIFY(result.has_value());
    }

private slots:
    void initTestCase() { QVERIFY(m_server.start()); }
    void init()
    {
        QVERIFY(m_server.setAsrScript(QJsonObject{}));
        m_log.emplace(); // the session writes nowhere but the Qt log
    }

    void cleanup() { m_log.reset(); }

    void finalize_beforeReady_returnsNothingAndSendsNothing()
    {
        auto session = makeSession();
        session->appendAudio(QByteArray(4096, 1));
        session->startSendingIfNeeded();
        const FinalResult result = finalizeNow(*session);
        QVERIFY(result.has_value() && !result->has_value());
        QCOMPARE(session->state(), -1);
        QVERIFY(m_server.asrConnections().isEmpty());
    }

    void appendAudio_2500Bytes_twoFramesThenShortLastFrameBeforeFinishTask()
    {
        auto session = streaming(R"({"sentences":["你好。"]})", 0);
        QVERIFY(session);
        QTRY_COMPARE(session->state(), 1);
        session->appendAudio(QByteArray(2500, 1));
        QCOMPARE(session->pcmStaging().size(), 452);
        session->startSendingIfNeeded();
        // Whole frames go out while the user speaks, not only when the recording ends.
        QTRY_COMPARE(received().size(), 3);
        QCOMPARE(finalText(*session), QStringLiteral("你好。"));

        QCOMPARE(received(), (QStringList{QStringLiteral("run-task"), QStringLiteral("1024"), QStringLiteral("1024"),
                                          QStringLiteral("452"), QStringLiteral("finish-task")}));
        const QJsonObject connection = lastConnection();
        QCOMPARE(connection.value(QStringLiteral("authorization")).toString(), QStringLiteral("Bearer sk-local-test"));
        QJsonArray messages;
        for (const QJsonValue &m : connection.value(QStringLiteral("messages")).toArray())
            if (m.toObject().value(QStringLiteral("type")) == QStringLiteral("text"))
                messages.append(m);
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9A-F]{32}$")).match(session->taskId()).hasMatch());
        const auto expected = [&](const char *action, const char *payload) {
            return QJsonDocument::fromJson(
                       QStringLiteral(R"({"header":{"action":"%1","task_id":"%2","streaming":"duplex"},"payload":%3})")
                           .arg(QLatin1String(action), session->taskId(), QLatin1String(payload))
                           .toUtf8())
                .object();
        };
        QCOMPARE(
            messages.first()[QStringLiteral("json")].toObject(),
            expected("run-task",
                     R"({"task_group":"audio","task":"asr","function":"recognition",)"
                     R"("model":"fun-asr-realtime","parameters":{"sample_rate":16000,"format":"pcm","heartbeat":true},)"
                     R"("input":{}})"));
        QCOMPARE(messages.last()[QStringLiteral("json")].toObject(), expected("finish-task", R"({"input":{}})"));
        // A normal run logs no transcript and no protocol traffic.
        QVERIFY2(LogCapture::lines().isEmpty(), qPrintable(LogCapture::text()));
    }

    void finalize_batchInFlight_finishTaskFollowsLastFrame()
    {
        // Large enough that the sender is still handing its batch to the socket when finalize begins.
        const qsizetype big = 300 * 1024;
        auto session = streaming(R"({"sentences":["好。"]})", big);
        QVERIFY(session);
        session->onPartialUpdated = nullptr; // nobody shows partials: the session works all the same
        session->appendAudio(QByteArray(100, 1));
        QCOMPARE(finalText(*session), QStringLiteral("好。"));

        // Whole frames, then the remainder, then finish-task: nothing lost or reordered.
        const QStringList frames(big / 1024, QStringLiteral("1024"));
        QCOMPARE(received(), QStringList(1, QStringLiteral("run-task")) + frames +
                                 QStringList({QStringLiteral("100"), QStringLiteral("finish-task")}));
    }

    void handleMessage_sequences_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("partials"); // in order, separated by '|'
        QTest::addColumn<QString>("finalText");
        QTest::addColumn<bool>("failed");
        // Events with "at_bytes" follow the audio; sentences and failures without it wait for finish-task.
        const auto row = [](const char *name, const QByteArray &script, const char *partials, const char *text,
                            bool failed = false) {
            QTest::newRow(name) << script << QString::fromUtf8(partials) << QString::fromUtf8(text) << failed;
        };
        row("partial then final",
            R"({"events":[{"text":"我们今天","at_bytes":0},{"text":"我们今天去公园。","sentence_end":true,"at_bytes":0}]})",
            "我们今天|我们今天去公园。", "我们今天去公园。");
        // Without the service's own end flag, end punctuation marks a finished sentence.
        row("terminated partial is committed",
            R"({"raw_after_start":["{\u0022header\u0022:{\u0022event\u0022:\u0022result-generated\u0022},)"
            R"(\u0022payload\u0022:{\u0022output\u0022:{\u0022sentence\u0022:{\u0022text\u0022:\u0022好的。\u0022}}}}",)"
            R"("{\u0022header\u0022:{\u0022event\u0022:\u0022result-generated\u0022},)"
            R"(\u0022payload\u0022:{\u0022output\u0022:{\u0022sentence\u0022:{\u0022text\u0022:\u0022明天见\u0022}}}}"]})",
            "好的。|好的。 明天见", "好的。 明天见");
        row("rewritten partial is not duplicated",
            R"({"events":[{"text":"好的。","at_bytes":0},{"text":"好的，明天","at_bytes":0},)"
            R"({"text":"好的，明天见。","sentence_end":true,"at_bytes":0}]})",
            "好的。|好的，明天|好的，明天见。", "好的，明天见。");
        row("unterminated partial is replaced",
            R"({"events":[{"text":"好的","at_bytes":0},{"text":"明天见","at_bytes":0}]})", "好的|明天见", "明天见");
        row("growing partial is not committed",
            R"({"events":[{"text":"好的。","at_bytes":0},{"text":"好的。明天","at_bytes":0}]})", "好的。|好的。明天",
            "好的。明天");
        row("duplicate finals make one segment",
            R"({"events":[{"text":"你好。","sentence_end":true,"at_bytes":0},)"
            R"({"text":" 你好。\n","sentence_end":true,"at_bytes":0}]})",
            "你好。|你好。", "你好。");
        row("white space result changes nothing",
            R"({"events":[{"text":"你好","at_bytes":0},{"text":" \n\t ","at_bytes":0}]})", "你好", "你好");
        row("service end flag keeps an unpunctuated sentence",
            R"({"events":[{"text":"今天天气不错","sentence_end":true,"at_bytes":0},{"text":"我们出去","at_bytes":0}]})",
            "今天天气不错|今天天气不错 我们出去", "今天天气不错 我们出去");
        // The end flag may also sit beside the sentence, in the payload or its output, or be the event itself.
        for (const QByteArray where : {"payload", "output", "event"}) {
            const QByteArray flag = R"(\u0022is_sentence_end\u0022:true,)";
            const QByteArray script =
                QByteArray(R"({"raw_after_start":["{\u0022header\u0022:{\u0022event\u0022:\u0022%E%\u0022},)"
                           R"(\u0022payload\u0022:{%P%\u0022output\u0022:{%O%\u0022sentence\u0022:{)"
                           R"(\u0022text\u0022:\u0022今天\u0022}}}}"],"events":[{"text":"明天","at_bytes":0}]})")
                    .replace("%E%", where == "event" ? "sentence-end" : "result-generated")
                    .replace("%P%", where == "payload" ? flag : QByteArray())
                    .replace("%O%", where == "output" ? flag : QByteArray());
            row((where + " end flag").constData(), script, "今天|今天 明天", "今天 明天");
        }
        row("frames that are not results are ignored",
            R"({"raw_after_start":["not json","[1,2]","{\u0022header\u0022:5}",)"
            R"("{\u0022header\u0022:{\u0022event\u0022:\u0022result-generated\u0022},\u0022payload\u0022:{}}"],"sentences":["还在听。"]})",
            "还在听。", "还在听。");
        // A binary frame holding a result is read as text; other bytes end the stream without finish-task.
        const QByteArray binaryResult = R"({"header":{"event":"result-generated"},"payload":{"output":)"
                                        R"({"sentence":{"text":"二","sentence_end":true}}}})";
        const QJsonArray frames{QString::fromLatin1(binaryResult.toBase64()),
                                QString::fromLatin1(QByteArray("\xff\xfe{").toBase64())};
        const QJsonObject binaryScript{{QStringLiteral("never_finish"), true},
                                       {QStringLiteral("binary_after_start_base64"), frames}};
        row("binary frames", QJsonDocument(binaryScript).toJson(), "二", "二", true);
        row("connection dropped before any text", R"({"drop_after_bytes":1024})", "",
            "[错误: 无法连接 DashScope：网络连接中断。]", true);
        row("connection dropped while finalize waits",
            R"({"events":[{"text":"你好","at_bytes":0}],"drop_on_finish":true})", "你好", "你好");
        row("no valid audio", R"({"fail":{"code":"NO_VALID_AUDIO_ERROR","message":"x"}})", "",
            "[错误: 音频过短或全静音，无法识别。]", true);
        row("failed while recording", R"({"fail":{"code":"Throttling","message":"rate limited","at_bytes":1024}})", "",
            "[错误: [Throttling] rate limited]", true);
        row("format", R"({"fail":{"code":"InvalidParameter.Format","message":""}})", "", "[错误: 音频格式参数错误。]",
            true);
        row("failure after some segments",
            R"({"events":[{"text":"第一句。","sentence_end":true,"at_bytes":0},{"text":"第二句","at_bytes":0}],)"
            R"("fail":{"code":"InternalError","message":"boom"}})",
            "第一句。|第一句。 第二句", "第一句。 第二句", true);
    }

    void handleMessage_sequences()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, partials);
        QFETCH(QString, finalText);
        QFETCH(bool, failed);
        auto session = streaming(script, 1024);
        QVERIFY(session);
        QCOMPARE(this->finalText(*session), finalText);
        QCOMPARE(m_partials, partials.isEmpty() ? QStringList() : partials.split(QLatin1Char('|')));
        if (failed)
            QCOMPARE(session->state(), 3);
    }

    // A service that never finishes: finalize gives up at its deadline on the clock, or at once when cancelled.
    void finalize_silentServer_timesOutOnTheClockOrIsCancelled()
    {
        const QByteArray script = R"({"never_finish":true,"events":[{"text":"半句","at_bytes":0}]})";
        auto session = streaming(script, 1024);
        QVERIFY(session);
        QTRY_COMPARE(m_partials.size(), 1);
        FinalResult result;
        finalizeAtDeadline(*session, result);
        QVERIFY(result && !result->has_value());
        QTRY_COMPARE(received().value(2), QStringLiteral("finish-task"));
        QCOMPARE(session->state(), 2);

        session = streaming(script, 1024);
        QVERIFY(session);
        result.reset();
        collectFinal(session.get(), 30000, &result);
        QTRY_COMPARE(m_clock.pendingTimers(), 1);
        session->cancel();
        QTRY_VERIFY(result.has_value());
        QVERIFY(!result->has_value());
        QCOMPARE(session->state(), 3);
        QVERIFY(session->currentText().isEmpty());
        QTRY_VERIFY(lastConnection().value(QStringLiteral("closed")).toBool());
        QCOMPARE(lastConnection().value(QStringLiteral("close_code")).toInt(), 1001);
    }

    // A connection that stops reading backs up into the send queue, which then keeps the newest ten seconds.
    void stalledReader_queueKeepsTheNewestTenSeconds()
    {
        auto session = streaming(R"({"stall_reader":true,"task_started_delay_ms":0})", 0);
        QVERIFY(session);
        QTRY_COMPARE(session->state(), 1); // the reader stalls from task-started on
        // Feed like capture does (100 ms chunks of numbered words) until two more seconds went past a full queue.
        QByteArray fed;
        for (int i = 0, overflow = 0; i < 20000 && overflow < 20; ++i) {
            QByteArray chunk(3200, '\0');
            for (qsizetype b = 0; b < chunk.size(); b += 4)
                qToLittleEndian<qint32>(qint32((fed.size() + b) / 4), chunk.data() + b);
            fed += chunk;
            session->appendAudio(chunk);
            session->startSendingIfNeeded();
            QCoreApplication::processEvents();
            if (session->pendingAudioBytes() >= ParaformerStreamingSession::sendQueueLimitBytes)
                ++overflow;
        }
        const qint64 queued = session->pendingAudioBytes();
        QVERIFY(queued >= ParaformerStreamingSession::sendQueueLimitBytes);
        QVERIFY(queued <= ParaformerStreamingSession::sendQueueLimitBytes + ParaformerStreamingSession::frameBytes);
        // Whole frames, contiguous up to the staged remainder: the newest audio.
        QByteArray kept;
        for (const QByteArray &frame : session->pendingAudioChunks()) {
            QCOMPARE(frame.size(), ParaformerStreamingSession::frameBytes);
            kept += frame;
        }
        QVERIFY(fed.endsWith(kept + session->pcmStaging()));
    }

    // Capture keeps delivering audio while a refusal takes a real round trip: the refusal is reported as soon as
    // the session is asked, and the audio held meanwhile is dropped.
    void refusalWhileAudioArrives_reportedWhenAsked()
    {
        QVERIFY(m_server.setAsrScript(QJsonObject{{QStringLiteral("upgrade_delay_ms"), 300}}));
        auto session = makeSession(QStringLiteral("sk-wrong"));
        Started started;
        collectStart(session.get(), &started);
        QTimer capture;
        connect(&capture, &QTimer::timeout, this, [&]() {
            session->appendAudio(QByteArray(3200, 1));
            session->startSendingIfNeeded();
        });
        capture.start(100);
        QTRY_VERIFY_WITH_TIMEOUT(started.done, 5000);
        QTest::qWait(300); // capture goes on after the refusal
        const FinalResult result = finalizeNow(*session);
        capture.stop();
        QCOMPARE(result->value_or(QString()),
                 QStringLiteral("[错误: 无法连接 DashScope：服务器拒绝了连接，API Key 可能无效（401）]"));
        QCOMPARE(session->pendingAudioBytes(), 0);
        // Audio held back before the task started was never being sent: only the receive side reports.
        QCOMPARE(LogCapture::lines().filter(QStringLiteral("WS receiveLoop error domain=HTTP code=401 ")).size(), 1);
        QCOMPARE(LogCapture::lines().filter(QStringLiteral("WS flushPendingAudio")), QStringList());
        QCOMPARE(m_clock.pendingTimers(), 0); // the upgrade's deadline went with the refusal

        // An account in arrears is refused at the upgrade as well.
        session = streaming(R"({"upgrade_status":403})", 3000);
        QVERIFY(session);
        QCOMPARE(finalText(*session),
                 QStringLiteral("[错误: 无法连接 DashScope：服务器拒绝了连接，API Key 可能无效（403）]"));
        QVERIFY(m_server.asrConnections().isEmpty());
    }

    // A task that never starts is reported at the deadline; finishing one without audio, the service refuses
    // (silence likewise, in the endpoint test; its text is a row of handleMessage_sequences).
    void finalize_taskNeverStartedOrNoAudio_reportsWhy()
    {
        auto session = streaming(R"({"no_task_started":true,"sentences":["你好。"]})", 4096);
        QVERIFY(session);
        FinalResult result;
        finalizeAtDeadline(*session, result);
        QCOMPARE(result.value_or(std::nullopt).value_or(QString()),
                 QStringLiteral("[错误: 未在预期时间内收到 task-started，识别任务没有开始。]"));
        QCOMPARE(received(), QStringList{QStringLiteral("run-task")});

        auto none = streaming(R"({"sentences":["你好。"]})", 0);
        QVERIFY(none);
        QCOMPARE(finalText(*none), QStringLiteral("[错误: [NO_INPUT_AUDIO_ERROR] no input audio]"));
    }

    void wss_sessionTrustsTheCertificateItIsGiven()
    {
        QTemporaryDir dir;
        QFile cert(dir.filePath(QStringLiteral("cert.pem")));
        QFile key(dir.filePath(QStringLiteral("key.pem")));
        QVERIFY(cert.open(QIODevice::WriteOnly) && cert.write(kFixtureCertificatePem) > 0);
        QVERIFY(key.open(QIODevice::WriteOnly) && key.write(kFixtureKeyPem) > 0);
        cert.close();
        key.close();
        LocalServerProcess tlsServer;
        QVERIFY(tlsServer.start(
            {QStringLiteral("--tls-cert"), cert.fileName(), QStringLiteral("--tls-key"), key.fileName()}));
        const QUrl endpoint = dashScopeRealtimeUrl(QStringLiteral("wss://127.0.0.1:%1").arg(tlsServer.tlsPort()));

        QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
        trusting.addCaCertificate(QSslCertificate(QByteArray(kFixtureCertificatePem)));
        const auto dictate = [&](const std::optional<QSslConfiguration> &tls) {
            ParaformerStreamingSession session(m_clock, endpoint, QStringLiteral("sk-local-test"),
                                               QStringLiteral("fun-asr-realtime"), 16000, std::nullopt);
            if (tls)
                session.setSslConfiguration(*tls);
            (void)startNow(session);
            session.appendAudio(QByteArray(4096, 1));
            session.startSendingIfNeeded();
            return finalText(session);
        };
        // The stand-in's default script recognises nothing but still finishes the task.
        QCOMPARE(dictate(trusting), QString());
        QCOMPARE(dictate(std::nullopt),
                 QStringLiteral("[错误: 无法连接 DashScope：TLS/证书握手失败（检查系统时间/网络代理）。]"));
    }

    // An upgrade nobody answers times out on the clock; cancelled or destroyed meanwhile, the session takes its
    // deadline along, so nothing fires on a session that is gone.
    void start_upgradeNeverAnswered_timesOutOrIsCancelledOnTheClock()
    {
        QTcpServer silent; // accepts the connection and never answers the upgrade
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        auto session = makeSession(QStringLiteral("sk-local-test"), silent.serverPort());
        Started started;
        collectStart(session.get(), &started);
        QTRY_VERIFY(silent.hasPendingConnections());
        session->appendAudio(QByteArray(2048, 1));
        session->startSendingIfNeeded();
        m_clock.advance(ParaformerStreamingSession::upgradeTimeoutMs - 1);
        QCoreApplication::processEvents();
        QVERIFY(!started.done); // run-task waits for the upgrade
        m_clock.advance(1);
        QTRY_VERIFY(started.done);
        QVERIFY(!started.error);
        QCOMPARE(finalText(*session),
                 QStringLiteral("[错误: 无法连接 DashScope：连接超时（可能需要代理或网络不通）。]"));

        for (const bool destroy : {false, true}) {
            session = makeSession(QStringLiteral("sk-local-test"), silent.serverPort());
            started = {};
            collectStart(session.get(), &started);
            QTRY_COMPARE(m_clock.pendingTimers(), 1);
            if (destroy)
                session.reset();
            else
                session->cancel();
            QTRY_VERIFY(started.done); // start returns rather than waiting on a session that is gone
            QCOMPARE(m_clock.pendingTimers(), 0);
        }
    }

    // The service ends the connection with a proper close in mid-task: what was heard is the answer, at once.
    void closedCleanlyByTheService_finalizeReturnsTextSoFar()
    {
        QWebSocketServer service(QStringLiteral("service"), QWebSocketServer::NonSecureMode);
        QVERIFY(service.listen(QHostAddress::LocalHost, 0));
        connect(&service, &QWebSocketServer::newConnection, this, [&service]() {
            QWebSocket *ws = service.nextPendingConnection();
            connect(ws, &QWebSocket::textMessageReceived, ws, [ws]() {
                ws->sendTextMessage(QStringLiteral(R"({"header":{"event":"task-started"},"payload":{}})"));
                ws->sendTextMessage(
                    QStringLiteral(R"({"header":{"event":"result-generated"},"payload":)"
                                   R"({"output":{"sentence":{"text":"再见。","sentence_end":true}}}})"));
                ws->close(QWebSocketProtocol::CloseCodeNormal, QStringLiteral("bye"));
            });
        });
        auto session = makeSession(QStringLiteral("sk-local-test"), service.serverPort());
        QVERIFY(startNow(*session));
        QTRY_COMPARE(session->state(), 3);
        QCOMPARE(finalText(*session), QStringLiteral("再见。"));
    }
};

QTEST_GUILESS_MAIN(TestParaformerStreamingSession)
#include "tst_ParaformerStreamingSession.moc"
