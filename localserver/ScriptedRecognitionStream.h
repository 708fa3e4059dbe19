#pragma once

#include "RecognitionEngine.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTimer>
#include <deque>
#include <functional>

// One scripted recognition task (see ScriptedRecognitionEngine for the script).
class ScriptedRecognitionStream final : public RecognitionStream
{
    Q_OBJECT
public:
    explicit ScriptedRecognitionStream(const QJsonObject &script, QObject *parent = nullptr);

    void feed(const QByteArray &pcm) override;
    void finish() override;

private:
    void uncoverUpTo(qint64 chars);
    void emitDueEvents(bool finishing);
    void post(std::function<void()> fn, qint64 extraDelayMs = 0);
    void drain();
    qint64 timeOfByte(qint64 byteCount) const { return byteCount / 32; }

    QStringList m_sentences;
    qint64 m_bytesPerChar = 3200;
    QJsonArray m_events;
    qsizetype m_nextEvent = 0;
    QJsonObject m_fail;
    qint64 m_delayMs = 0;
    qint64 m_finishDelayMs = 0;
    bool m_neverFinish = false;

    qint64 m_bytes = 0;
    qint64 m_uncovered = 0; // characters of all sentences revealed so far
    qint64 m_sentenceBeginMs = 0;
    bool m_failed = false;
    bool m_finishing = false;

    struct Pending {
        qint64 dueMs;
        std::function<void()> fn;
    };
    std::deque<Pending> m_queue;
    QTimer m_timer;
    qint64 m_lastDue = 0;
};
