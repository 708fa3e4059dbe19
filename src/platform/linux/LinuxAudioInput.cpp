#include "platform/linux/LinuxAudioInput.h"

#include "base/Logging.h"

#include <QAudioFormat>
#include <QAudioSource>
#include <QMediaDevices>

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

AudioInputFormat LinuxAudioInput::preferredFormat(QString &error)
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

bool LinuxAudioInput::start(const AudioInputFormat &format, quint32 framesPerBuffer, BufferSink sink, QString &error)
{
    stop();
    bool ok = false;
    QMetaObject::invokeMethod(
        &m_context, [&] { ok = open(format, framesPerBuffer, std::move(sink), error); }, Qt::BlockingQueuedConnection);
    return ok;
}

void LinuxAudioInput::stop()
{
    QMetaObject::invokeMethod(
        &m_context, [this] { close(); }, Qt::BlockingQueuedConnection);
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
    m_sink = std::move(sink);
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
        m_sink = nullptr;
        return false;
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
            m_sink(AudioInputBuffer{m_format, std::move(m_chunk)});
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
        m_sink(AudioInputBuffer{m_format, std::move(m_chunk)});
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
