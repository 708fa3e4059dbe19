#pragma once

#include "audio/AudioCapture.h"

#include <QElapsedTimer>
#include <atomic>

// Stands between the dictation controller and the real capture and notes how long the first dictation waited
// for its first PCM chunk, counted from the moment the first toggle reached the program (`voxle --state`
// reports it; the first words of the first dictation depend on it).
class AudioCaptureTiming final : public AudioCapture
{
public:
    explicit AudioCaptureTiming(AudioCapture &capture);

    // Called when the running program receives its first toggle; later calls change nothing.
    void markFirstToggle();
    // Milliseconds from the first toggle to the first chunk, or -1 while not measured.
    qint64 firstToggleToFirstPcmMs() const { return m_firstPcmMs.load(); }

    QCoro::Task<> start(AudioCaptureSink sink) override;
    void stop() override;
    void setGain(double gain) override;

private:
    AudioCapture &m_capture;
    QElapsedTimer m_sinceToggle;
    std::atomic<qint64> m_firstPcmMs{-1};
};
