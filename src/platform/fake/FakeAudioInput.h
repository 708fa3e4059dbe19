#pragma once

#include "platform/AudioInput.h"

#include <mutex>

// A scripted input device for tests: the test sets the device format (or a failure) and pushes buffers, which
// reach the sink on the pushing thread as they would on the device thread.
class FakeAudioInput final : public AudioInput
{
public:
    AudioInputFormat format{48000, 2, AudioInputFormat::SampleType::int16};
    QString unavailableReason; // non-empty: preferredFormat() reports no device
    QString openFailure;       // non-empty: start() fails with it

    AudioInputFormat preferredFormat(QString &error) override;
    bool start(const AudioInputFormat &format, quint32 framesPerBuffer, BufferSink sink, QString &error) override;
    void stop() override;

    // Hands a buffer in the started format to the sink; false when the device is not running.
    bool push(const QByteArray &data);
    bool pushBuffer(const AudioInputBuffer &buffer);

    bool isRunning() const;
    int startCount() const;
    int stopCount() const;
    quint32 framesPerBuffer() const;
    AudioInputFormat startedFormat() const;

private:
    mutable std::mutex m_lock;
    BufferSink m_sink;
    AudioInputFormat m_started;
    quint32 m_framesPerBuffer = 0;
    int m_startCount = 0;
    int m_stopCount = 0;
};
