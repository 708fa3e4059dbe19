#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QtEndian>
#include <memory>

// True when every 16-bit sample is within the noise floor: the service hears nothing in it.
inline bool isSilentPcm(const QByteArray &pcm)
{
    constexpr int silenceLevel = 64;
    for (qsizetype i = 0; i + 1 < pcm.size(); i += 2) {
        const int sample = qFromLittleEndian<qint16>(pcm.constData() + i);
        if (sample > silenceLevel || sample < -silenceLevel)
            return false;
    }
    return true;
}

// One recognised sentence state, as the realtime service reports it.
struct RecognitionResult {
    QString text;
    bool sentenceEnd = false;
    qint64 beginTimeMs = 0;
    qint64 endTimeMs = -1; // -1 while the sentence is in progress (sent as null)
};

// A streaming recogniser for one task: PCM in, results out. Signals may be emitted from inside feed()/finish()
// or later (delays).
class RecognitionStream : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~RecognitionStream() override = default;

    // 16 kHz mono PCM16, in arrival order.
    virtual void feed(const QByteArray &pcm) = 0;
    // No more audio: deliver what remains, then finished() (or failed()).
    virtual void finish() = 0;

signals:
    void result(const RecognitionResult &result);
    void finished();
    void failed(const QString &code, const QString &message);
};

// The outcome of recognising a whole buffer (speech upload).
struct RecognitionOutcome {
    bool ok = true;
    QString text;
    QString errorCode;
    QString errorMessage;
};

class RecognitionEngine
{
public:
    virtual ~RecognitionEngine() = default;
    virtual std::unique_ptr<RecognitionStream> openStream(int sampleRate) = 0;
    virtual RecognitionOutcome recognize(const QByteArray &pcm16kMono) = 0;
};
