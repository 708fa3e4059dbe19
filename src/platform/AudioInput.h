#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <functional>

// The sample layout of a device buffer: interleaved frames of `channels` samples each.
struct AudioInputFormat {
    enum class SampleType { unknown, uint8, int16, int32, float32 };

    double sampleRate = 0;
    quint32 channels = 0;
    SampleType sampleType = SampleType::unknown;

    int bytesPerSample() const
    {
        switch (sampleType) {
        case SampleType::uint8:
            return 1;
        case SampleType::int16:
            return 2;
        case SampleType::int32:
        case SampleType::float32:
            return 4;
        case SampleType::unknown:
            break;
        }
        return 0;
    }
    int bytesPerFrame() const { return bytesPerSample() * static_cast<int>(channels); }
    bool isValid() const { return sampleRate > 0 && channels > 0 && bytesPerSample() > 0; }

    friend bool operator==(const AudioInputFormat &, const AudioInputFormat &) = default;
};

// One buffer as the device produced it, in the device's own format.
struct AudioInputBuffer {
    AudioInputFormat format;
    QByteArray data;

    quint32 frameCount() const
    {
        const int bpf = format.bytesPerFrame();
        return bpf > 0 ? static_cast<quint32>(data.size() / bpf) : 0;
    }
};

// The default audio input device. start() and stop() are called from one thread at a time (the owner's).
class AudioInput
{
public:
    // Called on the input's own thread for every buffer; it must only hand the buffer on, never block.
    using BufferSink = std::function<void(AudioInputBuffer buffer)>;

    virtual ~AudioInput() = default;

    // The format the default input device prefers; an invalid format and `error` filled when there is no
    // usable device (none present, or no sound server). Returns promptly.
    virtual AudioInputFormat preferredFormat(QString &error) = 0;

    // Opens the default input device in `format` and delivers buffers of `framesPerBuffer` frames to `sink`
    // (the last one before stop may be shorter). False with `error` filled when the device cannot be opened;
    // nothing is running then.
    virtual bool start(const AudioInputFormat &format, quint32 framesPerBuffer, BufferSink sink, QString &error) = 0;

    // Synchronous and idempotent: when it returns the device is closed and `sink` is not called any more.
    virtual void stop() = 0;
};
