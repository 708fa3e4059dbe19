#pragma once

#include "platform/AudioInput.h"

#include <QAudioDevice>
#include <QObject>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class QAudioSource;
class QIODevice;

// The default input of the sound server (PulseAudio, or PipeWire through its PulseAudio interface) through Qt
// Multimedia. The QAudioSource lives on a thread of its own ("voxle.audio.input") whose only work is to cut
// what the server delivers into buffers of the requested size and hand each one to the sink.
//
// The sound server is only ever waited for on that thread, with a time limit: a server that accepts the
// connection and then does not answer (the client library gives up only after 30 s) makes preferredFormat()
// and start() fail within a few seconds instead of hanging their caller.
class LinuxAudioInput final : public AudioInput
{
public:
    static constexpr int kProbeTimeoutMs = 3000;
    static constexpr int kOpenTimeoutMs = 5000; // the first open on a fresh server can take about 2 s
    static constexpr int kCloseTimeoutMs = 2000;

    LinuxAudioInput();
    // Waits for the input thread, so for as long as a non-answering server keeps it busy.
    ~LinuxAudioInput() override;

    AudioInputFormat preferredFormat(QString &error) override;
    bool start(const AudioInputFormat &format, quint32 framesPerBuffer, BufferSink sink, QString &error) override;
    void stop() override;

private:
    // Runs `job` on the input thread and waits for it at most `timeoutMs` (not at all while an earlier job is
    // still overdue). False when it has not finished by then; it still runs to its end later.
    bool runOnInputThread(std::function<void()> job, int timeoutMs);
    void deliver(AudioInputBuffer buffer);

    // Input thread only.
    AudioInputFormat probe(QString &error);
    bool open(const AudioInputFormat &format, quint32 framesPerBuffer, BufferSink sink, QString &error);
    void pull();
    void close();

    QThread m_thread;
    QObject m_context; // lives on m_thread: the receiver of every job run there
    std::atomic<int> m_overdueJobs{0};

    std::mutex m_sinkLock; // held while the sink runs, so that stop() can shut it off for good
    bool m_sinkEnabled = false;

    // Input thread only.
    QAudioDevice m_device;
    std::unique_ptr<QAudioSource> m_source;
    QIODevice *m_io = nullptr;
    AudioInputFormat m_format;
    BufferSink m_sink;
    QByteArray m_chunk;
    qsizetype m_chunkBytes = 0;
    qsizetype m_filled = 0;
};
