#include "platform/linux/LinuxAudioInput.h"

#include "base/Logging.h"

#include <QAudioFormat>
#include <QAudioSource>
#include <QMediaDevices>
#include <QSemaphore>

namespace {
AudioInputFormat::SampleType fromQt(QAudioFormat::SampleFormat format)
{
    switch (format) {
    case QAudioFormat::UInt8:
        return AudioInputFormat::SampleType::uint8;
    case QAudioFormat::Int16:
        return AudioInputFormat::SampleType::int16;
    case QAudioFormat::Int32:
        return AudioInputFormat::SampleType::int32;
    case QAudioFormat::Float:
        return AudioInputFormat::SampleType::float32;
    default:
        return AudioInputFormat::SampleType::unknown;
    }
}

QAudioFormat::SampleFormat toQt(AudioInputFormat::SampleType type)
{
    switch (type) {
    case AudioInputFormat::SampleType::uint8:
        return QAudioFormat::UInt8;
    case AudioInputFormat::SampleType::int16:
        return QAudioFormat::Int16;
    case AudioInputFormat::SampleType::int32:
        return QAudioFormat::Int32;
    case AudioInputFormat::SampleType::float32:
        return QAudioFormat::Float;
    case AudioInputFormat::SampleType::unknown:
        break;
    }
    return QAudioFormat::Unknown;
}
} // namespace

LinuxAudioInput::LinuxAudioInput()
{
    m_thread.setObjectName(QStringLiteral("voxle.audio.input"));
    m_context.moveToThread(&m_thread);
    m_thread.start();
}

LinuxAudioInput::~LinuxAudioInput()
{
    stop();
    m_thread.quit();
    m_thread.wait();
}

bool LinuxAudioInput::runOnInputThread(std::function<void()> job, int timeoutMs)
{
    if (QThread::currentThread() == &m_thread) {
        job();
        return true;
    }
    struct Completion {
        QSemaphore done;
        std::mutex lock;
        bool finished = false;
        bool overdue = false;
    };
    auto completion = std::make_shared<Completion>();
    QMetaObject::invokeMethod(
        &m_context,
        [this, job = std::move(job), completion] {
            job();
            const std::lock_guard guard(completion->lock);
            completion->finished = true;
            if (completion->overdue)
                --m_overdueJobs;
            completion->done.release();
        },
        Qt::QueuedConnection);
    // Behind an overdue job this one cannot start soon either.
    if (completion->done.tryAcquire(1, m_overdueJobs.load() > 0 ? 0 : timeoutMs))
        return true;
    const std::lock_guard guard(completion->lock);
    if (completion->finished)
        return true;
    completion->overdue = true;
    ++m_overdueJobs;
    return false;
}

AudioInputFormat LinuxAudioInput::preferredFormat(QString &error)
{
    struct Probe {
        AudioInputFormat format;
        QString error;
    };
    auto result = std::make_shared<Probe>();
    if (!runOnInputThread([this, result] { result->format = probe(result->error); }, kProbeTimeoutMs)) {
        error = QStringLiteral("the sound server does not answer");
        return {};
    }
    error = result->error;
    return result->format;
}

bool LinuxAudioInput::start(const AudioInputFormat &format, quint32 framesPerBuffer, BufferSink sink, QString &error)
{
    stop();
    struct Open {
        std::mutex lock;
        bool finished = false;
        bool abandoned = false;
        bool ok = false;
        QString error;
    };
    auto state = std::make_shared<Open>();
    runOnInputThread(
        [this, state, format, framesPerBuffer, sink = std::move(sink)]() mutable {
            QString openError;
            const bool ok = open(format, framesPerBuffer, std::move(sink), openError);
            const std::lock_guard guard(state->lock);
            state->finished = true;
            if (state->abandoned) {
                close(); // the caller has already reported a failure
                return;
            }
            state->ok = ok;
            state->error = openError;
        },
        kOpenTimeoutMs);
    const std::lock_guard guard(state->lock);
    if (!state->finished) {
        state->abandoned = true;
        error = QStringLiteral("the sound server did not open the input in time");
        return false;
    }
    error = state->error;
    return state->ok;
}

void LinuxAudioInput::stop()
{
    if (!runOnInputThread([this] { close(); }, kCloseTimeoutMs))
        qCWarning(lcAudioCapture, "Audio input: the sound server does not answer; input left to close later");
    const std::lock_guard guard(m_sinkLock);
    m_sinkEnabled = false;
}

void LinuxAudioInput::deliver(AudioInputBuffer buffer)
{
    const std::lock_guard guard(m_sinkLock);
    if (m_sinkEnabled && m_sink)
        m_sink(std::move(buffer));
}

AudioInputFormat LinuxAudioInput::probe(QString &error)
{
    // Without a sound server Qt lists no device at all, so this is also where a missing server shows.
    m_device = QMediaDevices::defaultAudioInput();
    if (m_device.isNull()) {
        error = QStringLiteral("no audio input device (no sound server reachable, or no source)");
        return {};
    }
    const QAudioFormat preferred = m_device.preferredFormat();
    AudioInputFormat format{static_cast<double>(preferred.sampleRate()), static_cast<quint32>(preferred.channelCount()),
                            fromQt(preferred.sampleFormat())};
    if (!format.isValid()) {
        error = QStringLiteral("input device \"%1\" has no usable format").arg(m_device.description());
        return {};
    }
    return format;
}

bool LinuxAudioInput::open(const AudioInputFormat &format, quint32 framesPerBuffer, BufferSink sink, QString &error)
{
    if (m_device.isNull())
        m_device = QMediaDevices::defaultAudioInput();
    if (m_device.isNull()) {
        error = QStringLiteral("no audio input device");
        return false;
    }
    if (!format.isValid() || framesPerBuffer == 0) {
        error = QStringLiteral("invalid capture format");
        return false;
    }
    QAudioFormat qtFormat;
    qtFormat.setSampleRate(static_cast<int>(format.sampleRate));
    qtFormat.setChannelCount(static_cast<int>(format.channels));
    qtFormat.setSampleFormat(toQt(format.sampleType));
    if (!m_device.isFormatSupported(qtFormat)) {
        error = QStringLiteral("input device \"%1\" does not take the requested format").arg(m_device.description());
        return false;
    }

    m_format = format;
    m_chunkBytes = qsizetype(framesPerBuffer) * format.bytesPerFrame();
    m_chunk.clear();
    m_filled = 0;
    m_source = std::make_unique<QAudioSource>(m_device, qtFormat);
    // One tap of buffering on the server side: data arrives about every tap instead of every 100 ms or more.
    m_source->setBufferSize(m_chunkBytes);
    m_io = m_source->start();
    if (!m_io || m_source->error() != QAudio::NoError || m_source->state() == QAudio::StoppedState) {
        error = QStringLiteral("input device \"%1\" could not be opened (error %2)")
                    .arg(m_device.description())
                    .arg(static_cast<int>(m_source->error()));
        m_source.reset();
        m_io = nullptr;
        return false;
    }
    m_sink = std::move(sink);
    {
        const std::lock_guard guard(m_sinkLock);
        m_sinkEnabled = true;
    }
    QObject::connect(m_io, &QIODevice::readyRead, &m_context, [this] { pull(); });
    QObject::connect(m_source.get(), &QAudioSource::stateChanged, &m_context, [this](QAudio::State state) {
        if (state == QAudio::StoppedState && m_source && m_source->error() != QAudio::NoError)
            qCWarning(lcAudioCapture, "Audio input stopped: error %d", static_cast<int>(m_source->error()));
    });
    return true;
}

void LinuxAudioInput::pull()
{
    if (!m_io)
        return;
    for (;;) {
        if (m_chunk.isEmpty()) {
            m_chunk = QByteArray(m_chunkBytes, Qt::Uninitialized);
            m_filled = 0;
        }
        const qint64 n = m_io->read(m_chunk.data() + m_filled, m_chunkBytes - m_filled);
        if (n <= 0)
            return;
        m_filled += n;
        if (m_filled == m_chunkBytes) {
            deliver(AudioInputBuffer{m_format, std::move(m_chunk)});
            m_chunk = QByteArray();
        }
    }
}

void LinuxAudioInput::close()
{
    if (!m_source)
        return;
    pull();
    // The short remainder is audio too; it goes out as a last, smaller buffer of whole frames.
    const qsizetype tail = m_filled - m_filled % m_format.bytesPerFrame();
    if (!m_chunk.isEmpty() && tail > 0) {
        m_chunk.truncate(tail);
        deliver(AudioInputBuffer{m_format, std::move(m_chunk)});
    }
    {
        const std::lock_guard guard(m_sinkLock);
        m_sinkEnabled = false;
    }
    QObject::disconnect(m_io, nullptr, &m_context, nullptr);
    QObject::disconnect(m_source.get(), nullptr, &m_context, nullptr);
    m_source->stop();
    m_source.reset();
    m_io = nullptr;
    m_sink = nullptr;
    m_chunk = QByteArray();
    m_filled = 0;
}
