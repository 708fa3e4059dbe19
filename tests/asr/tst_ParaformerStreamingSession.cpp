#include "LocalServerProcess.h"
#include "asr/DashScopeEndpoint.h"
#include "asr/ParaformerStreamingSession.h"
#include "platform/fake/ManualClock.h"

#include <QCoro/QCoroTask>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>
#include <QtEndian>
#include <memory>

namespace {
using FinalResult = std::optional<std::optional<QString>>; // outer: finalize has returned

QCoro::Task<> collectFinal(ParaformerStreamingSession *session, qint64 timeoutMs, FinalResult *out)
{
    *out = co_await session->finalize(timeoutMs);
}

QCoro::Task<> collectStart(ParaformerStreamingSession *session, bool *done, std::optional<StartError> *error)
{
    try {
        co_await session->start();
    } catch (const StartError &e) {
        *error = e;
    }
    *done = true;
}

QByteArray pcm(qsizetype bytes, char fill = 1)
{
    return QByteArray(bytes, fill);
}

QJsonObject scriptEvent(const QString &text, bool sentenceEnd, qint64 atBytes = 0)
{
    return QJsonObject{{QStringLiteral("text"), text},
                       {QStringLiteral("sentence_end"), sentenceEnd},
                       {QStringLiteral("at_bytes"), atBytes}};
}
} // namespace

class TestParaformerStreamingSession : public QObject
{
    Q_OBJECT

    std::unique_ptr<LocalServerProcess> m_server;
    ManualClock m_clock;
    QStringList m_partials;

    std::unique_ptr<ParaformerStreamingSession> makeSession(const QString &apiKey = QStringLiteral("sk-local-test"))
    {
        auto session = std::make_unique<ParaformerStreamingSession>(m_clock, dashScopeRealtimeUrl(m_server->origin()),
                                                                    apiKey, QStringLiteral("fun-asr-realtime"), 16000,
                                                                    QStringList{QStringLiteral("zh")});
        m_partials.clear();
        session->onPartialUpdated = [this](const QString &text) { m_partials << text; };
        return session;
    }

    // Starts the session and waits (on real loopback I/O) until start() has returned.
    bool startSession(ParaformerStreamingSession &session)
    {
        bool done = false;
        std::optional<StartError> error;
        collectStart(&session, &done, &error);
        return QTest::qWaitFor([&] { return done; }, 10000) && !error;
    }

    FinalResult finalizeNow(ParaformerStreamingSession &session, qint64 timeoutMs = 30000)
    {
        FinalResult result;
        collectFinal(&session, timeoutMs, &result);
        if (!QTest::qWaitFor([&] { return result.has_value(); }, 10000))
            return std::optional<QString>(QStringLiteral("<finalize did not return>"));
        return result;
    }

    QJsonArray messagesOfLastConnection()
    {
        const QJsonArray connections = m_server->asrLog().value(QStringLiteral("connections")).toArray();
        if (connections.isEmpty())
            return {};
        return connections.last().toObject().value(QStringLiteral("messages")).toArray();
    }

    QStringList describe(const QJsonArray &messages)
    {
        QStringList out;
        for (const QJsonValue &v : messages) {
            const QJsonObject m = v.toObject();
            if (m.value(QStringLiteral("type")).toString() == QStringLiteral("binary"))
                out << QString::number(m.value(QStringLiteral("size")).toInt());
            else
                out << m.value(QStringLiteral("json"))
                           .toObject()
                           .value(QStringLiteral("header"))
                           .toObject()
                           .value(QStringLiteral("action"))
                           .toString();
        }
        return out;
    }

private slots:
    void initTestCase()
    {
        m_server = std::make_unique<LocalServerProcess>();
        QVERIFY2(m_server->isRunning(), qPrintable(m_server->errorText()));
    }

    void cleanupTestCase() { m_server.reset(); }

    void init() { QVERIFY(m_server->setAsrScript(QJsonObject{})); }

    void finalize_beforeReady_returnsNothingAndSendsNothing()
    {
        auto session = makeSession();
        session->appendAudio(pcm(4096));
        session->startSendingIfNeeded();
        const FinalResult result = finalizeNow(*session);
        QVERIFY(result.has_value());
        QVERIFY(!result->has_value());
        QCOMPARE(session->state(), -1);
        QVERIFY(m_server->asrLog().value(QStringLiteral("connections")).toArray().isEmpty());
    }

    void appendAudio_stalledQueue_keepsNewestTenSeconds()
    {
        // Never started: nothing drains the queue, as with a stalled connection.
        auto session = makeSession();
        const qsizetype chunk = 3200;
        const int chunks = 120; // 12 s
        for (int i = 0; i < chunks; ++i) {
            QByteArray data(chunk, '\0');
            for (qsizetype b = 0; b < chunk; b += 2)
                qToLittleEndian<qint16>(static_cast<qint16>((i * chunk + b) / 2 % 30000), data.data() + b);
            session->appendAudio(data);
        }
        const qint64 total = chunk * chunks;
        const qint64 queued = session->pendingAudioBytes();
        QVERIFY(queued >= ParaformerStreamingSession::sendQueueLimitBytes);
        QVERIFY(queued <= ParaformerStreamingSession::sendQueueLimitBytes + ParaformerStreamingSession::frameBytes);
        qint64 sum = 0;
        for (const QByteArray &frame : session->pendingAudioChunks()) {
            QCOMPARE(frame.size(), ParaformerStreamingSession::frameBytes);
            sum += frame.size();
        }
        QCOMPARE(sum, queued);
        // The kept frames are the newest ones, contiguous up to the staged remainder.
        const qint64 firstKeptByte = total - session->pcmStaging().size() - queued;
        const QByteArray &oldest = session->pendingAudioChunks().front();
        QCOMPARE(qFromLittleEndian<qint16>(oldest.constData()), static_cast<qint16>(firstKeptByte / 2 % 30000));
        QCOMPARE(firstKeptByte % ParaformerStreamingSession::frameBytes, 0);
    }

    void appendAudio_2500Bytes_twoFramesThenShortLastFrameBeforeFinishTask()
    {
        m_server->setAsrScript(QJsonObject{{QStringLiteral("sentences"), QJsonArray{QStringLiteral("你好。")}}});
        auto session = makeSession();
        QVERIFY(startSession(*session));
        QCOMPARE(session->state(), 1);
        session->appendAudio(pcm(2500));
        QCOMPARE(session->pcmStaging().size(), 452);
        session->startSendingIfNeeded();
        const FinalResult result = finalizeNow(*session);
        QCOMPARE(result->value_or(QStringLiteral("<none>")), QStringLiteral("你好。"));

        const QJsonArray messages = messagesOfLastConnection();
        QCOMPARE(describe(messages),
                 (QStringList{QStringLiteral("run-task"), QStringLiteral("1024"), QStringLiteral("1024"),
                              QStringLiteral("452"), QStringLiteral("finish-task")}));
        const QJsonObject connection =
            m_server->asrLog().value(QStringLiteral("connections")).toArray().last().toObject();
        QCOMPARE(connection.value(QStringLiteral("authorization")).toString(), QStringLiteral("Bearer sk-local-test"));

        const QJsonObject runTask = messages.first().toObject().value(QStringLiteral("json")).toObject();
        const QJsonObject header = runTask.value(QStringLiteral("header")).toObject();
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9A-F]{32}$"))
                    .match(header.value(QStringLiteral("task_id")).toString())
                    .hasMatch());
        QCOMPARE(header.value(QStringLiteral("task_id")).toString(), session->taskId());
        QCOMPARE(header.value(QStringLiteral("streaming")).toString(), QStringLiteral("duplex"));
        const QJsonObject payload = runTask.value(QStringLiteral("payload")).toObject();
        QCOMPARE(payload.value(QStringLiteral("task_group")).toString(), QStringLiteral("audio"));
        QCOMPARE(payload.value(QStringLiteral("task")).toString(), QStringLiteral("asr"));
        QCOMPARE(payload.value(QStringLiteral("function")).toString(), QStringLiteral("recognition"));
        QCOMPARE(payload.value(QStringLiteral("model")).toString(), QStringLiteral("fun-asr-realtime"));
        QCOMPARE(
            payload.value(QStringLiteral("parameters")).toObject(),
            (QJsonObject{{QStringLiteral("sample_rate"), 16000}, {QStringLiteral("format"), QStringLiteral("pcm")}}));
        QVERIFY(payload.value(QStringLiteral("parameters")).toObject().value(QStringLiteral("sample_rate")).isDouble());
        QCOMPARE(payload.value(QStringLiteral("input")).toObject(), QJsonObject());

        const QJsonObject finishTask = messages.last().toObject().value(QStringLiteral("json")).toObject();
        QCOMPARE(finishTask,
                 (QJsonObject{
                     {QStringLiteral("header"), QJsonObject{{QStringLiteral("action"), QStringLiteral("finish-task")},
                                                            {QStringLiteral("task_id"), session->taskId()},
                                                            {QStringLiteral("streaming"), QStringLiteral("duplex")}}},
                     {QStringLiteral("payload"), QJsonObject{{QStringLiteral("input"), QJsonObject()}}}}));
    }

    void finalize_batchInFlight_finishTaskFollowsLastFrame()
    {
        m_server->setAsrScript(QJsonObject{{QStringLiteral("sentences"), QJsonArray{QStringLiteral("好。")}}});
        auto session = makeSession();
        QVERIFY(startSession(*session));
        // Large enough that the sender is still handing its batch to the socket when finalize begins.
        const qsizetype big = 300 * 1024;
        session->appendAudio(pcm(big));
        session->startSendingIfNeeded();
        session->appendAudio(pcm(100));
        const FinalResult result = finalizeNow(*session);
        QCOMPARE(result->value_or(QString()), QStringLiteral("好。"));

        const QStringList seen = describe(messagesOfLastConnection());
        QCOMPARE(seen.first(), QStringLiteral("run-task"));
        QCOMPARE(seen.last(), QStringLiteral("finish-task"));
        qint64 bytes = 0;
        for (qsizetype i = 1; i + 1 < seen.size(); ++i) {
            const int size = seen.at(i).toInt();
            QVERIFY2(size > 0, "a text message between the audio frames");
            QCOMPARE(size, i + 2 == seen.size() ? int((big + 100) % 1024) : 1024);
            bytes += size;
        }
        QCOMPARE(bytes, big + 100);
    }

    void handleMessage_partialThenFinal_oneSegmentAndCallbacks()
    {
        m_server->setAsrScript(
            QJsonObject{{QStringLiteral("events"), QJsonArray{scriptEvent(QStringLiteral("我们今天"), false),
                                                              scriptEvent(QStringLiteral("我们今天去公园。"), true)}}});
        auto session = makeSession();
        QVERIFY(startSession(*session));
        session->appendAudio(pcm(1024));
        session->startSendingIfNeeded();
        QTRY_COMPARE(m_partials.size(), 2);
        QCOMPARE(m_partials, (QStringList{QStringLiteral("我们今天"), QStringLiteral("我们今天去公园。")}));
        QCOMPARE(session->finalSegments(), QStringList{QStringLiteral("我们今天去公园。")});
        QVERIFY(session->partialText().isEmpty());
        QCOMPARE(finalizeNow(*session)->value_or(QString()), QStringLiteral("我们今天去公园。"));
    }

    void handleMessage_sentenceSequences_data()
    {
        QTest::addColumn<QJsonArray>("events");
        QTest::addColumn<QString>("finalText");
        QTest::addColumn<QStringList>("partials");
        QTest::newRow("terminated partial is committed")
            << QJsonArray{scriptEvent(QStringLiteral("好的。"), false), scriptEvent(QStringLiteral("明天见"), false)}
            << QStringLiteral("好的。 明天见")
            << QStringList{QStringLiteral("好的。"), QStringLiteral("好的。 明天见")};
        QTest::newRow("unterminated partial is replaced")
            << QJsonArray{scriptEvent(QStringLiteral("好的"), false), scriptEvent(QStringLiteral("明天见"), false)}
            << QStringLiteral("明天见") << QStringList{QStringLiteral("好的"), QStringLiteral("明天见")};
        QTest::newRow("growing partial is not committed")
            << QJsonArray{scriptEvent(QStringLiteral("好的。"), false),
                          scriptEvent(QStringLiteral("好的。明天"), false)}
            << QStringLiteral("好的。明天") << QStringList{QStringLiteral("好的。"), QStringLiteral("好的。明天")};
        QTest::newRow("duplicate finals make one segment")
            << QJsonArray{scriptEvent(QStringLiteral("你好。"), true), scriptEvent(QStringLiteral(" 你好。\n"), true)}
            << QStringLiteral("你好。") << QStringList{QStringLiteral("你好。"), QStringLiteral("你好。")};
        QTest::newRow("white space result changes nothing")
            << QJsonArray{scriptEvent(QStringLiteral("你好"), false), scriptEvent(QStringLiteral(" \n\t "), false)}
            << QStringLiteral("你好") << QStringList{QStringLiteral("你好")};
        QTest::newRow("service end flag keeps an unpunctuated sentence")
            << QJsonArray{scriptEvent(QStringLiteral("今天天气不错"), true),
                          scriptEvent(QStringLiteral("我们出去"), false)}
            << QStringLiteral("今天天气不错 我们出去")
            << QStringList{QStringLiteral("今天天气不错"), QStringLiteral("今天天气不错 我们出去")};
    }

    void handleMessage_sentenceSequences()
    {
        QFETCH(QJsonArray, events);
        QFETCH(QString, finalText);
        QFETCH(QStringList, partials);
        m_server->setAsrScript(QJsonObject{{QStringLiteral("events"), events}});
        auto session = makeSession();
        QVERIFY(startSession(*session));
        session->appendAudio(pcm(1024));
        session->startSendingIfNeeded();
        QCOMPARE(finalizeNow(*session)->value_or(QStringLiteral("<none>")), finalText);
        QCOMPARE(m_partials, partials);
    }

    void handleMessage_growingTranscript_deliversPartialsAndSentences()
    {
        m_server->setAsrScript(
            QJsonObject{{QStringLiteral("sentences"), QJsonArray{QStringLiteral("你好。"), QStringLiteral("明天见")}},
                        {QStringLiteral("bytes_per_char"), 1024}});
        auto session = makeSession();
        QVERIFY(startSession(*session));
        session->appendAudio(pcm(4 * 1024));
        session->startSendingIfNeeded();
        QTRY_COMPARE(m_partials.size(), 4);
        QCOMPARE(m_partials, (QStringList{QStringLiteral("你"), QStringLiteral("你好"), QStringLiteral("你好。"),
                                          QStringLiteral("你好。 明")}));
        QCOMPARE(finalizeNow(*session)->value_or(QString()), QStringLiteral("你好。 明天见"));
    }

    void finalize_slowService_waitsForTaskFinished()
    {
        m_server->setAsrScript(QJsonObject{{QStringLiteral("sentences"), QJsonArray{QStringLiteral("慢一点。")}},
                                           {QStringLiteral("delay_ms"), 100},
                                           {QStringLiteral("finish_delay_ms"), 200}});
        auto session = makeSession();
        QVERIFY(startSession(*session));
        session->appendAudio(pcm(1024));
        session->startSendingIfNeeded();
        QCOMPARE(finalizeNow(*session)->value_or(QStringLiteral("<none>")), QStringLiteral("慢一点。"));
        QCOMPARE(m_partials, QStringList{QStringLiteral("慢一点。")});
    }

    void handleMessage_notJson_ignoredAndLoopContinues()
    {
        m_server->setAsrScript(QJsonObject{
            {QStringLiteral("raw_after_start"),
             QJsonArray{QStringLiteral("not json"), QStringLiteral("[1,2]"), QStringLiteral("{\"header\":5}"),
                        QStringLiteral("{\"header\":{\"event\":\"result-generated\"},\"payload\":{}}")}},
            {QStringLiteral("sentences"), QJsonArray{QStringLiteral("还在听。")}}});
        auto session = makeSession();
        QVERIFY(startSession(*session));
        session->appendAudio(pcm(1024));
        session->startSendingIfNeeded();
        QCOMPARE(finalizeNow(*session)->value_or(QString()), QStringLiteral("还在听。"));
    }

    void taskFailed_data()
    {
        QTest::addColumn<QJsonObject>("script");
        QTest::addColumn<QString>("finalText");
        const auto fail = [](const QString &code, const QString &message) {
            return QJsonObject{{QStringLiteral("code"), code}, {QStringLiteral("message"), message}};
        };
        QTest::newRow("no valid audio")
            << QJsonObject{{QStringLiteral("fail"), fail(QStringLiteral("NO_VALID_AUDIO_ERROR"), QStringLiteral("x"))}}
            << QStringLiteral("[错误: 音频过短或全静音，无法识别。]");
        QTest::newRow("throttled") << QJsonObject{{QStringLiteral("fail"),
                                                   fail(QStringLiteral("Throttling"), QStringLiteral("rate limited"))}}
                                   << QStringLiteral("[错误: [Throttling] rate limited]");
        QTest::newRow("format") << QJsonObject{{QStringLiteral("fail"),
                                                fail(QStringLiteral("InvalidParameter.Format"), QString())}}
                                << QStringLiteral("[错误: 音频格式参数错误。]");
        QTest::newRow("after some segments")
            << QJsonObject{{QStringLiteral("events"), QJsonArray{scriptEvent(QStringLiteral("第一句。"), true),
                                                                 scriptEvent(QStringLiteral("第二句"), false)}},
                           {QStringLiteral("fail"), fail(QStringLiteral("InternalError"), QStringLiteral("boom"))}}
            << QStringLiteral("第一句。 第二句");
    }

    void taskFailed()
    {
        QFETCH(QJsonObject, script);
        QFETCH(QString, finalText);
        m_server->setAsrScript(script);
        auto session = makeSession();
        QVERIFY(startSession(*session));
        session->appendAudio(pcm(1024));
        session->startSendingIfNeeded();
        QCOMPARE(finalizeNow(*session)->value_or(QStringLiteral("<none>")), finalText);
        QCOMPARE(session->state(), 3);
    }

    void taskFailed_whileRecording_finalizeAnswersAtOnce()
    {
        m_server->setAsrScript(QJsonObject{
            {QStringLiteral("fail"), QJsonObject{{QStringLiteral("code"), QStringLiteral("Throttling")},
                                                 {QStringLiteral("message"), QStringLiteral("rate limited")},
                                                 {QStringLiteral("at_bytes"), 1024}}}});
        auto session = makeSession();
        QVERIFY(startSession(*session));
        session->appendAudio(pcm(2048));
        session->startSendingIfNeeded();
        QTRY_COMPARE(session->state(), 3);
        QCOMPARE(finalizeNow(*session)->value_or(QStringLiteral("<none>")),
                 QStringLiteral("[错误: [Throttling] rate limited]"));
    }

    void finalize_silentServer_timesOutOnTheClock()
    {
        m_server->setAsrScript(
            QJsonObject{{QStringLiteral("never_finish"), true},
                        {QStringLiteral("events"), QJsonArray{scriptEvent(QStringLiteral("半句"), false)}}});
        auto session = makeSession();
        QVERIFY(startSession(*session));
        session->appendAudio(pcm(1024));
        session->startSendingIfNeeded();
        QTRY_COMPARE(m_partials.size(), 1);
        FinalResult result;
        collectFinal(session.get(), 30000, &result);
        QTRY_COMPARE(describe(messagesOfLastConnection()).value(2), QStringLiteral("finish-task"));
        QTRY_COMPARE(m_clock.pendingTimers(), 1);
        const qint64 due = m_clock.nextDue();
        m_clock.advance(due - m_clock.elapsedMs() - 1);
        QCoreApplication::processEvents();
        QVERIFY(!result.has_value());
        m_clock.advance(1);
        QTRY_VERIFY(result.has_value());
        QVERIFY(!result->has_value());
        QVERIFY(session->state() == 2);
    }

    void finalize_stalledReader_boundedQueueAndTimeout()
    {
        m_server->setAsrScript(QJsonObject{{QStringLiteral("stall_reader"), true}});
        auto session = makeSession();
        QVERIFY(startSession(*session));
        // Feed like capture does (100 ms chunks) until the stalled connection backs up into the queue.
        const QByteArray chunk = pcm(3200);
        qint64 appended = 0;
        for (int i = 0; i < 20000 && session->pendingAudioBytes() < ParaformerStreamingSession::sendQueueLimitBytes;
             ++i) {
            session->appendAudio(chunk);
            session->startSendingIfNeeded();
            appended += chunk.size();
            QCoreApplication::processEvents();
        }
        QVERIFY2(session->pendingAudioBytes() >= ParaformerStreamingSession::sendQueueLimitBytes,
                 qPrintable(QStringLiteral("queue never filled after %1 bytes").arg(appended)));
        for (int i = 0; i < 200; ++i)
            session->appendAudio(chunk);
        QVERIFY(session->pendingAudioBytes() <=
                ParaformerStreamingSession::sendQueueLimitBytes + ParaformerStreamingSession::frameBytes);

        FinalResult result;
        collectFinal(session.get(), 30000, &result);
        QTRY_COMPARE(m_clock.pendingTimers(), 1);
        m_clock.advance(29999);
        QCoreApplication::processEvents();
        QVERIFY(!result.has_value());
        m_clock.advance(1);
        QTRY_VERIFY(result.has_value());
        QVERIFY(!result->has_value());
    }

    void cancel_duringFinalize_returnsNothingAtOnce()
    {
        m_server->setAsrScript(
            QJsonObject{{QStringLiteral("never_finish"), true},
                        {QStringLiteral("events"), QJsonArray{scriptEvent(QStringLiteral("半句"), false)}}});
        auto session = makeSession();
        QVERIFY(startSession(*session));
        session->appendAudio(pcm(1024));
        session->startSendingIfNeeded();
        FinalResult result;
        collectFinal(session.get(), 30000, &result);
        QTRY_COMPARE(m_clock.pendingTimers(), 1);
        session->cancel();
        QTRY_VERIFY(result.has_value());
        QVERIFY(!result->has_value());
        QCOMPARE(session->state(), 3);
        QVERIFY(session->currentText().isEmpty());
        QTRY_VERIFY(m_server->asrLog()
                        .value(QStringLiteral("connections"))
                        .toArray()
                        .last()
                        .toObject()
                        .value(QStringLiteral("closed"))
                        .toBool());
    }

    void start_refusedKey_finalizeReportsWhyAtOnce()
    {
        auto session = makeSession(QStringLiteral("sk-wrong"));
        QVERIFY(startSession(*session));
        session->appendAudio(pcm(3000));
        session->startSendingIfNeeded();
        const FinalResult result = finalizeNow(*session);
        QCOMPARE(result->value_or(QStringLiteral("<none>")),
                 QStringLiteral("[错误: 无法连接 DashScope：服务器拒绝了连接，API Key 可能无效（401）]"));
        QVERIFY(m_server->asrLog().value(QStringLiteral("connections")).toArray().isEmpty());
    }

    void start_upgradeNeverAnswered_timesOutOnTheClock()
    {
        QTcpServer silent; // accepts the connection and never answers the upgrade
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        ParaformerStreamingSession session(
            m_clock, dashScopeRealtimeUrl(QStringLiteral("ws://127.0.0.1:%1").arg(silent.serverPort())),
            QStringLiteral("sk-local-test"), QStringLiteral("fun-asr-realtime"), 16000, std::nullopt);
        bool done = false;
        std::optional<StartError> error;
        collectStart(&session, &done, &error);
        QTRY_VERIFY(silent.hasPendingConnections());
        // The upgrade carries the bearer key and nothing beyond what the WebSocket handshake itself needs.
        QTcpSocket *peer = silent.nextPendingConnection();
        QTRY_VERIFY(peer->peek(peer->bytesAvailable()).contains("\r\n\r\n"));
        QStringList names;
        const QList<QByteArray> lines = peer->readAll().split('\n');
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            if (line.isEmpty())
                continue;
            names << QString::fromLatin1(line.left(line.indexOf(':')).toLower());
            if (names.last() == QStringLiteral("authorization"))
                QCOMPARE(line.mid(line.indexOf(':') + 1).trimmed(), QByteArray("Bearer sk-local-test"));
        }
        QVERIFY(lines.first().startsWith("GET /api-ws/v1/inference HTTP/1.1"));
        names.sort();
        QCOMPARE(names, (QStringList{QStringLiteral("authorization"), QStringLiteral("connection"),
                                     QStringLiteral("host"), QStringLiteral("sec-websocket-key"),
                                     QStringLiteral("sec-websocket-version"), QStringLiteral("upgrade")}));
        session.appendAudio(pcm(2048));
        session.startSendingIfNeeded();
        QCoreApplication::processEvents();
        QVERIFY(!done); // run-task waits for the upgrade
        m_clock.advance(ParaformerStreamingSession::upgradeTimeoutMs - 1);
        QCoreApplication::processEvents();
        QVERIFY(!done);
        m_clock.advance(1);
        QTRY_VERIFY(done);
        QVERIFY(!error);
        QCOMPARE(finalizeNow(session)->value_or(QStringLiteral("<none>")),
                 QStringLiteral("[错误: 无法连接 DashScope：连接超时（可能需要代理或网络不通）。]"));
    }

    void connectionDropped_finalizeReturnsTextSoFarAtOnce_data()
    {
        QTest::addColumn<QJsonArray>("events");
        QTest::addColumn<QString>("finalText");
        QTest::newRow("after text") << QJsonArray{scriptEvent(QStringLiteral("你好"), false)} << QStringLiteral("你好");
        QTest::newRow("before any text") << QJsonArray{}
                                         << QStringLiteral("[错误: 无法连接 DashScope：网络连接中断。]");
    }

    void connectionDropped_finalizeReturnsTextSoFarAtOnce()
    {
        QFETCH(QJsonArray, events);
        QFETCH(QString, finalText);
        m_server->setAsrScript(
            QJsonObject{{QStringLiteral("events"), events}, {QStringLiteral("drop_after_bytes"), 4096}});
        auto session = makeSession();
        QVERIFY(startSession(*session));
        session->appendAudio(pcm(8192));
        session->startSendingIfNeeded();
        QTRY_VERIFY(m_server->asrLog()
                        .value(QStringLiteral("connections"))
                        .toArray()
                        .last()
                        .toObject()
                        .value(QStringLiteral("closed"))
                        .toBool());
        QCOMPARE(finalizeNow(*session)->value_or(QStringLiteral("<none>")), finalText);
    }

    void connectionDropped_whileFinalizeWaits_answersWithoutTimeout()
    {
        m_server->setAsrScript(
            QJsonObject{{QStringLiteral("events"), QJsonArray{scriptEvent(QStringLiteral("你好"), false)}},
                        {QStringLiteral("drop_on_finish"), true}});
        auto session = makeSession();
        QVERIFY(startSession(*session));
        session->appendAudio(pcm(1024));
        session->startSendingIfNeeded();
        QTRY_COMPARE(m_partials.size(), 1);
        QCOMPARE(finalizeNow(*session)->value_or(QStringLiteral("<none>")), QStringLiteral("你好"));
    }
};

QTEST_GUILESS_MAIN(TestParaformerStreamingSession)
#include "tst_ParaformerStreamingSession.moc"
