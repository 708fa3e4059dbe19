#include "app/AudioCaptureTiming.h"

AudioCaptureTiming::AudioCaptureTiming(AudioCapture &capture) : m_capture(capture) {}

void AudioCaptureTiming::markFirstToggle()
{
    if (!m_sinceToggle.isValid())
        m_sinceToggle.start();
}

QCoro::Task<> AudioCaptureTiming::start(AudioCaptureSink sink)
{
    // The PCM goes on with the clock in between.
    sink.pcm16kMono = [this, pcm = std::move(sink.pcm16kMono)](const QByteArray &chunk) {
        if (m_firstPcmMs.load() < 0 && m_sinceToggle.isValid())
            m_firstPcmMs.store(m_sinceToggle.elapsed());
        if (pcm)
            pcm(chunk);
    };
    co_await m_capture.start(std::move(sink));
}

void AudioCaptureTiming::stop()
{
    m_capture.stop();
}

void AudioCaptureTiming::setGain(double gain)
{
    m_capture.setGain(gain);
}
