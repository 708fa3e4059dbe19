#pragma once

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QString>
#include <QVector>
#include <functional>

// Thrown by AudioCapture::start() when the microphone cannot be opened.
struct CaptureError {
    QString message; // shown to the user as is
};

// Where a running capture delivers: both are called on the capture's processing thread, in capture order,
// from start() until stop() returns.
struct AudioCaptureSink {
    std::function<void(double level, const QVector<double> &bars)> levelAndBars;
    std::function<void(const QByteArray &chunk)> pcm16kMono;
};

// What the dictation controller needs of the microphone.
class AudioCapture
{
public:
    virtual ~AudioCapture() = default;

    // Opens the default input and delivers to `sink` until stop(). Throws CaptureError when that fails; never
    // hangs.
    virtual QCoro::Task<> start(AudioCaptureSink sink) = 0;
    // Synchronous and idempotent; after it returns no callback runs any more.
    virtual void stop() = 0;
    // Clamped to 0.5 ... 6.0, taken over under the service's lock.
    virtual void setGain(double gain) = 0;
};
