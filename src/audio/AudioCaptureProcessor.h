#pragma once

#include "audio/Pcm16Converter.h"

#include <QObject>
#include <QVector>
#include <functional>
#include <memory>

// The worker behind AudioCaptureService, living on the "voxle.audio.capture.processing" thread: converts each
// device buffer, applies the gain, meters it and calls the two observers, one buffer at a time in capture
// order. Every member function runs on that thread.
class AudioCaptureProcessor : public QObject
{
    Q_OBJECT
public:
    using PcmCallback = std::function<void(const QByteArray &chunk)>;
    using LevelCallback = std::function<void(double level, const QVector<double> &bars)>;

    explicit AudioCaptureProcessor(std::function<double()> readGain);
    ~AudioCaptureProcessor() override;

    // Arms a new capture: the converter made for this start, the observers, and the first-buffer log.
    void begin(std::unique_ptr<Pcm16Converter> converter, PcmCallback onPcm, LevelCallback onLevel);
    // Converts and delivers one device buffer; dropped when no capture is armed.
    void process(const AudioInputBuffer &buffer);
    // Delivers what the resampler still holds, then disarms: nothing is delivered until the next begin().
    void finish();

    // Samples times the gain, clamped to the 16-bit range and truncated toward zero; a gain within 0.001 of
    // unity leaves the bytes untouched.
    static QByteArray applyGain(const QByteArray &pcm16, double gain);

private:
    void deliver(const AudioInputBuffer &converted);

    std::function<double()> m_readGain;
    std::unique_ptr<Pcm16Converter> m_converter;
    PcmCallback m_onPcm;
    LevelCallback m_onLevel;
    bool m_didLogFirstBuffer = false;
};
