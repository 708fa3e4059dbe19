#pragma once

#include "platform/AudioInput.h"

#include <QString>
#include <memory>
#include <vector>

struct soxr;

// Converts device buffers to signed 16-bit little-endian PCM at the target rate and channel count. The
// resampler (libsoxr, streaming) keeps its state from one buffer to the next, so a buffer boundary leaves no
// trace in the output; what it still holds comes out only at flush().
class Pcm16Converter
{
public:
    // Null, with `error` filled, when no converter can be made between the two formats (an unknown sample type,
    // a target that is neither mono nor the device's own channel count, a rate of zero).
    static std::unique_ptr<Pcm16Converter> create(const AudioInputFormat &input, double targetRate,
                                                  quint32 targetChannels, QString &error);
    ~Pcm16Converter();
    Pcm16Converter(const Pcm16Converter &) = delete;
    Pcm16Converter &operator=(const Pcm16Converter &) = delete;

    const AudioInputFormat &inputFormat() const { return m_input; }
    const AudioInputFormat &outputFormat() const { return m_output; }

    // Room reserved for the output of one buffer: the expected frame count plus 1024 frames of slack, at least
    // 4096 frames.
    static quint32 outputCapacity(quint32 inputFrames, double ratio);

    // Converts one buffer into `out` (int16 at the target format). False, with `error` filled, when the buffer
    // is not in the input format or the resampler fails; the buffer is then dropped.
    bool convert(const AudioInputBuffer &in, AudioInputBuffer &out, QString &error);

    // Ends the stream: the samples the resampler still holds, then a fresh start for the next buffer.
    AudioInputBuffer flush();

    // The capacity used for the last converted buffer, in frames.
    quint32 lastOutputCapacity() const { return m_lastCapacity; }

private:
    Pcm16Converter(const AudioInputFormat &input, const AudioInputFormat &output, soxr *resampler);
    void mixDown(const AudioInputBuffer &in);
    void appendOutput(AudioInputBuffer &out, size_t frames) const;

    AudioInputFormat m_input;
    AudioInputFormat m_output;
    soxr *m_resampler = nullptr;
    std::vector<float> m_mixed;     // interleaved at the target channel count, input rate
    std::vector<float> m_resampled; // interleaved at the target channel count, target rate
    quint32 m_lastCapacity = 0;
};
