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

// What the dictation controller needs of the microphone. The callbacks are set while stopped and are called
// on the capture's processing thread, in capture order.
class AudioCapture
{
public:
    virtual ~AudioCapture() = default;

    // Opens the default input. Throws CaptureError when that fails; never hangs.
    virtual QCoro::Task<> start() = 0;
    // Synchronous and idempotent; after it returns no callback runs any more.
    virtual void stop() = 0;
    // Clamped to 0.5 ... 6.0, taken over under the service's lock.
    virtual void setGain(double gain) = 0;

    std::function<void(double level, const QVector<double> &bars)> onLevelAndBars;
    std::function<void(const QByteArray &chunk)> onPcm16kMono;
};
