#include "audio/AudioCaptureProcessor.h"

#include "audio/AudioLevelMeter.h"
#include "base/Logging.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>

AudioCaptureProcessor::AudioCaptureProcessor(std::function<double()> readGain) : m_readGain(std::move(readGain)) {}

AudioCaptureProcessor::~AudioCaptureProcessor() = default;

void AudioCaptureProcessor::begin(std::unique_ptr<Pcm16Converter> converter, PcmCallback onPcm, LevelCallback onLevel)
{
    m_converter = std::move(converter);
    m_onPcm = std::move(onPcm);
    m_onLevel = std::move(onLevel);
    m_didLogFirstBuffer = false;
}

void AudioCaptureProcessor::process(const AudioInputBuffer &buffer)
{
    if (!m_converter)
        return;
    AudioInputBuffer converted;
    QString error;
    if (!m_converter->convert(buffer, converted, error)) {
        qCCritical(lcAudioCapture, "Audio convert error: %s", qUtf8Printable(error));
        return;
    }
    if (!m_didLogFirstBuffer) {
        m_didLogFirstBuffer = true;
        qCInfo(lcAudioCapture, "Audio first buffer: frames=%u", converted.frameCount());
    }
    deliver(converted);
}

void AudioCaptureProcessor::finish()
{
    if (m_converter) {
        const AudioInputBuffer tail = m_converter->flush();
        if (tail.frameCount() > 0)
            deliver(tail);
    }
    m_converter.reset();
    m_onPcm = nullptr;
    m_onLevel = nullptr;
}

void AudioCaptureProcessor::deliver(const AudioInputBuffer &converted)
{
    const double gain = m_readGain();
    const QByteArray bytes = applyGain(converted.data, gain);
    if (!bytes.isEmpty() && m_onPcm)
        m_onPcm(bytes);
    // The meter runs for every buffer, also one that gave no bytes, so the overlay keeps moving.
    const AudioLevelMeter::Reading reading = AudioLevelMeter::measure(converted, gain);
    if (m_onLevel)
        m_onLevel(reading.level, reading.bars);
}

QByteArray AudioCaptureProcessor::applyGain(const QByteArray &pcm16, double gain)
{
    if (std::abs(gain - 1.0) < 0.001)
        return pcm16;
    QByteArray out(pcm16.size() & ~qsizetype(1), Qt::Uninitialized);
    const char *src = pcm16.constData();
    char *dst = out.data();
    for (qsizetype i = 0; i + 1 < pcm16.size(); i += 2) {
        const double scaled = std::clamp(qFromLittleEndian<qint16>(src + i) * gain, -32768.0, 32767.0);
        qToLittleEndian<qint16>(static_cast<qint16>(std::trunc(scaled)), dst + i);
    }
    return out;
}
