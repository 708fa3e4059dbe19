#include "audio/AudioCaptureService.h"

#include "audio/AudioCaptureProcessor.h"
#include "base/Logging.h"
#include "platform/MicrophoneAccess.h"

#include <algorithm>

namespace {
CaptureError captureError(const QString &reason)
{
    return CaptureError{QStringLiteral("无法访问麦克风：") + reason};
}
} // namespace

AudioCaptureService::AudioCaptureService(AudioInput &input, Configuration config, const MicrophoneAccess *access)
    : m_config(config), m_input(input), m_access(access)
{
    m_processor = std::make_unique<AudioCaptureProcessor>([this] { return gain(); });
    m_processingThread.setObjectName(QString::fromLatin1(kProcessingThreadName));
    m_processor->moveToThread(&m_processingThread);
    m_processingThread.start();
}

AudioCaptureService::~AudioCaptureService()
{
    m_input.stop();
    runOnProcessingThread([this] { m_processor->finish(); });
    m_processingThread.quit();
    m_processingThread.wait();
}

void AudioCaptureService::setGain(double gain)
{
    const std::lock_guard lock(m_gainLock);
    m_gain = std::clamp(gain, 0.5, 6.0);
}

double AudioCaptureService::gain() const
{
    const std::lock_guard lock(m_gainLock);
    return m_gain;
}

QCoro::Task<> AudioCaptureService::start(AudioCaptureSink sink)
{
    // Opening the device does not suspend, so a failure surfaces at once to whoever awaits the task.
    startNow(std::move(sink));
    co_return;
}

void AudioCaptureService::startNow(AudioCaptureSink deliverTo)
{
    if (m_running)
        closeAndDrain();

    if (m_access && m_access->status() != MicrophoneAccess::Status::authorized)
        throw captureError(QStringLiteral("未获得麦克风权限"));

    QString error;
    const AudioInputFormat deviceFormat = m_input.preferredFormat(error);
    if (!deviceFormat.isValid()) {
        qCWarning(lcAudioCapture, "Audio start: no input device: %s", qUtf8Printable(error));
        throw captureError(QStringLiteral("没有可用的音频输入设备"));
    }
    qCInfo(lcAudioCapture, "Audio start: inputFormat sr=%f ch=%u", deviceFormat.sampleRate, deviceFormat.channels);

    std::unique_ptr<Pcm16Converter> converter =
        Pcm16Converter::create(deviceFormat, m_config.sampleRate, m_config.channels, error);
    if (!converter) {
        qCWarning(lcAudioCapture, "Audio start: format not supported: %s", qUtf8Printable(error));
        throw captureError(QStringLiteral("不支持的音频格式"));
    }
    runOnProcessingThread([&] { m_processor->begin(std::move(converter), std::move(deliverTo.pcm16kMono), std::move(deliverTo.levelAndBars)); });

    AudioCaptureProcessor *processor = m_processor.get();
    // The device thread only queues the buffer; the processor converts it on its own thread, in order.
    auto sink = [processor](AudioInputBuffer buffer) {
        QMetaObject::invokeMethod(
            processor, [processor, buffer = std::move(buffer)] { processor->process(buffer); }, Qt::QueuedConnection);
    };
    if (!m_input.start(deviceFormat, m_config.tapBufferSize, sink, error)) {
        qCWarning(lcAudioCapture, "Audio start: input failed: %s", qUtf8Printable(error));
        runOnProcessingThread([this] { m_processor->finish(); });
        throw captureError(QStringLiteral("音频输入设备无法打开"));
    }
    m_running = true;
    qCInfo(lcAudioCapture, "Audio start: engine started");
}

void AudioCaptureService::stop()
{
    closeAndDrain();
    qCInfo(lcAudioCapture, "Audio stop");
}

void AudioCaptureService::closeAndDrain()
{
    m_input.stop();
    // Queued after every buffer the device handed over, so those are all delivered first.
    runOnProcessingThread([this] { m_processor->finish(); });
    m_running = false;
}

void AudioCaptureService::runOnProcessingThread(const std::function<void()> &job)
{
    if (QThread::currentThread() == &m_processingThread)
        job();
    else
        QMetaObject::invokeMethod(m_processor.get(), job, Qt::BlockingQueuedConnection);
}
