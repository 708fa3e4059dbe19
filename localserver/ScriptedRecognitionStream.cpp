#include "ScriptedRecognitionStream.h"

#include <QElapsedTimer>

namespace {
qint64 monotonicMs()
{
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer.elapsed();
}
} // namespace

ScriptedRecognitionStream::ScriptedRecognitionStream(const QJsonObject &script, QObject *parent)
    : RecognitionStream(parent)
{
    for (const QJsonValue &v : script.value(QStringLiteral("sentences")).toArray()) {
        if (!v.toString().isEmpty())
            m_sentences << v.toString();
    }
    m_bytesPerChar = qMax<qint64>(1, script.value(QStringLiteral("bytes_per_char")).toInteger(3200));
    m_events = script.value(QStringLiteral("events")).toArray();
    m_fail = script.value(QStringLiteral("fail")).toObject();
    m_delayMs = script.value(QStringLiteral("delay_ms")).toInteger(0);
    m_finishDelayMs = script.value(QStringLiteral("finish_delay_ms")).toInteger(0);
    m_neverFinish = script.value(QStringLiteral("never_finish")).toBool(false);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ScriptedRecognitionStream::drain);
}

void ScriptedRecognitionStream::feed(const QByteArray &pcm)
{
    // Silence uncovers nothing: only sound counts towards the script.
    if (m_failed || m_finishing || isSilentPcm(pcm))
        return;
    m_bytes += pcm.size();
    uncoverUpTo(m_bytes / m_bytesPerChar);
    emitDueEvents(false);
    if (!m_fail.isEmpty() && m_fail.contains(QStringLiteral("at_bytes")) &&
        m_bytes >= m_fail.value(QStringLiteral("at_bytes")).toInteger()) {
        m_failed = true;
        const QString code = m_fail.value(QStringLiteral("code")).toString();
        const QString message = m_fail.value(QStringLiteral("message")).toString();
        post([this, code, message]() { emit failed(code, message); });
    }
}

void ScriptedRecognitionStream::finish()
{
    if (m_failed || m_finishing)
        return;
    m_finishing = true;
    if (m_neverFinish)
        return;
    // Whatever the audio did not uncover is delivered whole, so a test gets its transcript with little audio.
    qint64 start = 0;
    for (const QString &sentence : std::as_const(m_sentences)) {
        const qint64 end = start + sentence.size();
        if (m_uncovered < end) {
            const qint64 beginMs = m_uncovered > start ? m_sentenceBeginMs : timeOfByte(m_bytes);
            RecognitionResult r{sentence, true, beginMs, timeOfByte(m_bytes)};
            post([this, r]() { emit result(r); });
            m_uncovered = end;
        }
        start = end;
    }
    emitDueEvents(true);
    if (!m_fail.isEmpty()) {
        m_failed = true;
        const QString code = m_fail.value(QStringLiteral("code")).toString();
        const QString message = m_fail.value(QStringLiteral("message")).toString();
        post([this, code, message]() { emit failed(code, message); });
        return;
    }
    post([this]() { emit finished(); }, m_finishDelayMs);
}

void ScriptedRecognitionStream::uncoverUpTo(qint64 chars)
{
    while (m_uncovered < chars) {
        qint64 start = 0;
        const QString *sentence = nullptr;
        for (const QString &s : std::as_const(m_sentences)) {
            if (m_uncovered < start + s.size()) {
                sentence = &s;
                break;
            }
            start += s.size();
        }
        if (!sentence)
            return;
        const qint64 pos = m_uncovered - start;
        if (pos == 0)
            m_sentenceBeginMs = timeOfByte(m_uncovered * m_bytesPerChar);
        ++m_uncovered;
        const bool end = pos + 1 == sentence->size();
        RecognitionResult r{sentence->left(pos + 1), end, m_sentenceBeginMs, end ? timeOfByte(m_bytes) : -1};
        post([this, r]() { emit result(r); });
    }
}

void ScriptedRecognitionStream::emitDueEvents(bool finishing)
{
    while (m_nextEvent < m_events.size()) {
        const QJsonObject ev = m_events.at(m_nextEvent).toObject();
        const bool timed = ev.contains(QStringLiteral("at_bytes"));
        if (!finishing && (!timed || ev.value(QStringLiteral("at_bytes")).toInteger() > m_bytes))
            return;
        ++m_nextEvent;
        const bool end = ev.value(QStringLiteral("sentence_end")).toBool(false);
        RecognitionResult r{ev.value(QStringLiteral("text")).toString(), end, 0, end ? timeOfByte(m_bytes) : -1};
        post([this, r]() { emit result(r); });
    }
}

void ScriptedRecognitionStream::post(std::function<void()> fn, qint64 extraDelayMs)
{
    // Never inside the handler of the frame that caused it: the service answers asynchronously.
    const qint64 due = qMax(m_lastDue, monotonicMs() + m_delayMs + extraDelayMs);
    m_lastDue = due;
    m_queue.push_back(Pending{due, std::move(fn)});
    if (!m_timer.isActive())
        m_timer.start(static_cast<int>(qMax<qint64>(0, m_queue.front().dueMs - monotonicMs())));
}

void ScriptedRecognitionStream::drain()
{
    while (!m_queue.empty() && m_queue.front().dueMs <= monotonicMs()) {
        auto fn = std::move(m_queue.front().fn);
        m_queue.pop_front();
        fn();
    }
    if (!m_queue.empty())
        m_timer.start(static_cast<int>(qMax<qint64>(0, m_queue.front().dueMs - monotonicMs())));
}
