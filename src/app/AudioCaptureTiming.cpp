#include "app/AudioCaptureTiming.h"

AudioCaptureTiming::AudioCaptureTiming(AudioCapture &capture) : m_capture(capture) {}

void AudioCaptureTiming::markFirstToggle()
{
    if (!m_sinceToggle.isValid())
        m_sinceToggle.start();
}

QCoro::Task<> AudioCaptureTiming::start()
{
    // The callbacks are set while stopped; hand them on, the PCM one with the clock in between.
    m_capture.onLevelAndBars = onLevelAndBars;
    m_capture.onPcm16kMono = [this, pcm = onPcm16kMono](const QByteArray &chunk) {
        if (m_firstPcmMs.load() < 0 && m_sinceToggle.isValid())
            m_firstPcmMs.store(m_sinceToggle.elapsed());
        if (pcm)
            pcm(chunk);
    };
    co_await m_capture.start();
}

void AudioCaptureTiming::stop()
{
    m_capture.stop();
}

void AudioCaptureTiming::setGain(double gain)
{
    m_capture.setGain(gain);
}
