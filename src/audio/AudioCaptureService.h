#pragma once

#include "audio/AudioCapture.h"
#include "platform/AudioInput.h"

#include <QThread>
#include <memory>
#include <mutex>

class AudioCaptureProcessor;
class MicrophoneAccess;

// Takes audio from the default input, converts every device buffer to 16 kHz mono signed 16-bit PCM, applies
// the input gain and hands the bytes and a level reading to the sink given to start(). Conversion, metering and both
// callbacks run on the thread "voxle.audio.capture.processing"; the device side only hands buffers over.
//
// The sink must not wait for the thread that calls stop() (stop() waits for them): hand results on by
// queued invocation.
class AudioCaptureService final : public AudioCapture
{
public:
    struct Configuration {
        double sampleRate = 16000;
        quint32 channels = 1;
        quint32 tapBufferSize = 1024; // frames per device buffer
        friend bool operator==(const Configuration &, const Configuration &) = default;
    };

    static constexpr const char *kProcessingThreadName = "voxle.audio.capture.processing";

    // `access`, when given, must report the microphone authorised for start() to open the device.
    AudioCaptureService(AudioInput &input, Configuration config, const MicrophoneAccess *access = nullptr);
    ~AudioCaptureService() override;

    const Configuration &config() const { return m_config; }

    QCoro::Task<> start(AudioCaptureSink sink) override;
    // Closes the device, then converts and delivers every buffer captured before that, including what the
    // resampler still holds, before it returns. No callback runs after it.
    void stop() override;
    void setGain(double gain) override;
    double gain() const;
    bool isRunning() const { return m_running; }

private:
    void startNow(AudioCaptureSink deliverTo);
    void closeAndDrain();
    void runOnProcessingThread(const std::function<void()> &job);

    Configuration m_config;
    AudioInput &m_input;
    const MicrophoneAccess *m_access;
    QThread m_processingThread;
    std::unique_ptr<AudioCaptureProcessor> m_processor;
    mutable std::mutex m_gainLock;
    double m_gain = 1.0; // guarded by m_gainLock
    bool m_running = false;
};
