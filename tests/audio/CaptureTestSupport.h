#pragma once

#include "audio/AudioCaptureService.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QVector>
#include <QtEndian>
#include <cmath>
#include <mutex>
#include <optional>
#include <vector>

// What the two capture observers saw, written on the processing thread and read by the test.
struct CaptureRecorder {
    mutable std::mutex lock;
    QVector<QByteArray> chunks;
    QVector<double> levels;
    QVector<QVector<double>> bars;
    QStringList threadNames;

    AudioCaptureSink sink()
    {
        return {[this](double level, const QVector<double> &b) {
                    record([&] {
                        levels << level;
                        bars << b;
                    });
                },
                [this](const QByteArray &chunk) { record([&] { chunks << chunk; }); }};
    }
    template <typename Add> void record(Add add)
    {
        const std::lock_guard guard(lock);
        add();
        const QString name = QThread::currentThread()->objectName();
        if (!threadNames.contains(name))
            threadNames << name;
    }
    QVector<QByteArray> pcmChunks() const
    {
        const std::lock_guard guard(lock);
        return chunks;
    }
    QByteArray pcm() const
    {
        QByteArray all;
        for (const QByteArray &c : pcmChunks())
            all += c;
        return all;
    }
    int chunkCount() const { return int(pcmChunks().size()); }
    int levelCount() const
    {
        const std::lock_guard guard(lock);
        return int(levels.size());
    }
};

inline QCoro::Task<> awaitStart(AudioCapture &capture, AudioCaptureSink sink, std::optional<CaptureError> &error,
                                bool &done)
{
    try {
        co_await capture.start(std::move(sink));
    } catch (const CaptureError &e) {
        error = e;
    }
    done = true;
}

// Starts the capture and returns the error it threw, if any. start() never suspends, so it has ended here.
inline std::optional<CaptureError> startCapture(AudioCapture &capture, AudioCaptureSink sink = {})
{
    std::optional<CaptureError> error;
    bool done = false;
    awaitStart(capture, std::move(sink), error, done);
    if (!done)
        return CaptureError{QStringLiteral("start() suspended")};
    return error;
}

inline QByteArray pcm16(const std::vector<int> &samples)
{
    QByteArray bytes(qsizetype(samples.size() * 2), Qt::Uninitialized);
    for (size_t i = 0; i < samples.size(); ++i)
        qToLittleEndian<qint16>(static_cast<qint16>(samples[i]), bytes.data() + i * 2);
    return bytes;
}

inline std::vector<qint16> samplesOf(const QByteArray &bytes)
{
    std::vector<qint16> out(size_t(bytes.size() / 2));
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = qFromLittleEndian<qint16>(bytes.constData() + i * 2);
    return out;
}

inline double rms(const std::vector<qint16> &s, size_t from, size_t to)
{
    double sum = 0;
    for (size_t i = from; i < to; ++i)
        sum += double(s[i]) * s[i];
    return std::sqrt(sum / double(to - from));
}
