#include "platform/fake/FakeAudioInput.h"

AudioInputFormat FakeAudioInput::preferredFormat(QString &error)
{
    if (!unavailableReason.isEmpty()) {
        error = unavailableReason;
        return {};
    }
    return format;
}

bool FakeAudioInput::start(const AudioInputFormat &startFormat, quint32 framesPerBuffer, BufferSink sink,
                           QString &error)
{
    const std::lock_guard lock(m_lock);
    ++m_startCount;
    if (!openFailure.isEmpty()) {
        error = openFailure;
        return false;
    }
    m_started = startFormat;
    m_framesPerBuffer = framesPerBuffer;
    m_sink = std::move(sink);
    return true;
}

void FakeAudioInput::stop()
{
    const std::lock_guard lock(m_lock);
    ++m_stopCount;
    m_sink = nullptr;
}

bool FakeAudioInput::push(const QByteArray &data)
{
    AudioInputFormat started;
    {
        const std::lock_guard lock(m_lock);
        started = m_started;
    }
    return pushBuffer(AudioInputBuffer{started, data});
}

bool FakeAudioInput::pushBuffer(const AudioInputBuffer &buffer)
{
    // Held while the sink runs, so that stop() returning means no buffer is on its way any more.
    const std::lock_guard lock(m_lock);
    if (!m_sink)
        return false;
    m_sink(buffer);
    return true;
}

bool FakeAudioInput::isRunning() const
{
    const std::lock_guard lock(m_lock);
    return bool(m_sink);
}

int FakeAudioInput::startCount() const
{
    const std::lock_guard lock(m_lock);
    return m_startCount;
}

int FakeAudioInput::stopCount() const
{
    const std::lock_guard lock(m_lock);
    return m_stopCount;
}

quint32 FakeAudioInput::framesPerBuffer() const
{
    const std::lock_guard lock(m_lock);
    return m_framesPerBuffer;
}

AudioInputFormat FakeAudioInput::startedFormat() const
{
    const std::lock_guard lock(m_lock);
    return m_started;
}
