#pragma once

#include "RecognitionEngine.h"

#include <QJsonObject>

// Recognition by script, for tests. The script is the "engine" part of the JSON posted to /__control/asr:
//
//   "sentences":      ["你好。", "今天天气不错"]   transcript, one entry per sentence. Audio uncovers it character
//                     by character: every "bytes_per_char" bytes of sound (default 3200, 100 ms; silence counts
//                     for nothing) reveal one more character as a growing partial; the last character of a
//                     sentence comes with sentence_end.
//                     finish() delivers whatever is not uncovered yet as finished sentences.
//   "bytes_per_char": 3200
//   "events":         [{"text": "我们今天", "sentence_end": false, "at_bytes": 0}, ...]
//                     explicit results instead of (or after) the sentences; an event with "at_bytes" goes out once
//                     that much audio has arrived, one without it at finish(). Events keep their order.
//   "fail":           {"code": "Throttling", "message": "rate limited", "at_bytes": 4096}
//                     task-failed once that much audio arrived, or at finish() without "at_bytes".
//   "delay_ms":       every result is delayed this long (order kept).
//   "finish_delay_ms": extra delay before finished().
//   "never_finish":   true makes finish() go unanswered (a silent service).
class ScriptedRecognitionEngine final : public RecognitionEngine
{
public:
    void setScript(const QJsonObject &script) { m_script = script; }
    const QJsonObject &script() const { return m_script; }

    std::unique_ptr<RecognitionStream> openStream(int sampleRate) override;
    // The whole transcript at once: the sentences and the final events, joined; or the scripted failure.
    RecognitionOutcome recognize(const QByteArray &pcm16kMono) override;

private:
    QJsonObject m_script;
};
