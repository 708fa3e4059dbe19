#pragma once

#include "platform/AudioInput.h"

#include <QAudioDevice>
#include <QObject>
#include <QThread>
#include <memory>

class QAudioSource;
class QIODevice;

// The default input of the sound server (PulseAudio, or PipeWire through its PulseAudio interface) through Qt
// Multimedia. The QAudioSource lives on a thread of its own ("voxle.audio.input") whose only work is to cut
// what the server delivers into buffers of the requested size and hand each one to the sink.
class LinuxAudioInput final : public AudioInput
{
public:
    LinuxAudioInput();
    ~LinuxAudioInput() override;

    AudioInputFormat preferredFormat(QString &error) override;
    bool start(const AudioInputFormat &format, quint32 framesPerBuffer, BufferSink sink, QString &error) override;
    void stop() override;

private:
    // Everything below `m_context` belongs to the input thread.
    bool open(const AudioInputFormat &format, quint32 framesPerBuffer, BufferSink sink, QString &error);
    void pull();
    void close();

    QThread m_thread;
    QObject m_context; // lives on m_thread: the receiver of every job run there
    QAudioDevice m_device;
    std::unique_ptr<QAudioSource> m_source;
    QIODevice *m_io = nullptr;
    AudioInputFormat m_format;
    BufferSink m_sink;
    QByteArray m_chunk;
    qsizetype m_chunkBytes = 0;
    qsizetype m_filled = 0;
};
