#include "audio/Pcm16Converter.h"

#include <QtEndian>

#include <soxr.h>

#include <algorithm>
#include <cmath>

namespace {
using SampleType = AudioInputFormat::SampleType;

inline float sampleAt(const char *p, SampleType type)
{
    switch (type) {
    case SampleType::uint8:
        return (static_cast<float>(static_cast<quint8>(*p)) - 128.0f) / 128.0f;
    case SampleType::int16:
        return static_cast<float>(qFromLittleEndian<qint16>(p)) / 32768.0f;
    case SampleType::int32:
        return static_cast<float>(static_cast<double>(qFromLittleEndian<qint32>(p)) / 2147483648.0);
    case SampleType::float32: {
        // A stray NaN or infinity would stay in the resampler's filter and silence the rest of the recording.
        const float v = qFromLittleEndian<float>(p);
        return std::isfinite(v) ? v : 0.0f;
    }
    case SampleType::unknown:
        break;
    }
    return 0;
}

qint16 toInt16(float x)
{
    const float scaled = std::nearbyint(x * 32768.0f);
    return static_cast<qint16>(std::clamp(scaled, -32768.0f, 32767.0f));
}
} // namespace

std::unique_ptr<Pcm16Converter> Pcm16Converter::create(const AudioInputFormat &input, double targetRate,
                                                       quint32 targetChannels, QString &error)
{
    if (!input.isValid()) {
        error = QStringLiteral("unsupported input format");
        return nullptr;
    }
    if (!(targetRate > 0) || targetChannels == 0 || (targetChannels != 1 && targetChannels != input.channels)) {
        error = QStringLiteral("unsupported target format: %1 Hz, %2 channels").arg(targetRate).arg(targetChannels);
        return nullptr;
    }
    const AudioInputFormat output{targetRate, targetChannels, SampleType::int16};

    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    // Small DFT blocks: the resampler then returns output for every 1024-frame tap instead of every other
    // one, which keeps the meter steady and the first PCM early, for a few percent more CPU.
    soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    runtime.log2_min_dft_size = 8;
    runtime.log2_large_dft_size = 8;
    soxr_error_t soxrError = nullptr;
    soxr_t resampler = soxr_create(input.sampleRate, targetRate, targetChannels, &soxrError, &io, &quality, &runtime);
    if (soxrError || !resampler) {
        error = QStringLiteral("resampler: %1").arg(QString::fromUtf8(soxrError ? soxrError : "not created"));
        soxr_delete(resampler);
        return nullptr;
    }
    return std::unique_ptr<Pcm16Converter>(new Pcm16Converter(input, output, resampler));
}

Pcm16Converter::Pcm16Converter(const AudioInputFormat &input, const AudioInputFormat &output, soxr *resampler)
    : m_input(input), m_output(output), m_resampler(resampler)
{
}

Pcm16Converter::~Pcm16Converter()
{
    soxr_delete(m_resampler);
}

quint32 Pcm16Converter::outputCapacity(quint32 inputFrames, double ratio)
{
    const double expected = std::ceil(static_cast<double>(inputFrames) * ratio);
    return static_cast<quint32>(std::max(expected + 1024.0, 4096.0));
}

template <typename ReadSample>
static void mixInto(std::vector<float> &mixed, size_t frames, quint32 inChannels, quint32 outChannels, ReadSample read)
{
    if (inChannels == outChannels) {
        for (size_t i = 0; i < frames * outChannels; ++i)
            mixed[i] = read(i);
        return;
    }
    // Several channels into one: their mean, so a voice on one side only is kept at half level.
    const float scale = 1.0f / static_cast<float>(inChannels);
    for (size_t f = 0; f < frames; ++f) {
        float sum = 0;
        for (quint32 c = 0; c < inChannels; ++c)
            sum += read(f * inChannels + c);
        mixed[f] = sum * scale;
    }
}

void Pcm16Converter::mixDown(const AudioInputBuffer &in)
{
    const size_t frames = in.frameCount();
    const char *p = in.data.constData();
    m_mixed.resize(frames * m_output.channels);
    const quint32 inCh = m_input.channels;
    const quint32 outCh = m_output.channels;
    // One loop per sample type, so the per-sample read is inlined.
    switch (m_input.sampleType) {
    case SampleType::int16:
        mixInto(m_mixed, frames, inCh, outCh, [p](size_t i) { return sampleAt(p + i * 2, SampleType::int16); });
        break;
    case SampleType::float32:
        mixInto(m_mixed, frames, inCh, outCh, [p](size_t i) { return sampleAt(p + i * 4, SampleType::float32); });
        break;
    case SampleType::int32:
        mixInto(m_mixed, frames, inCh, outCh, [p](size_t i) { return sampleAt(p + i * 4, SampleType::int32); });
        break;
    case SampleType::uint8:
        mixInto(m_mixed, frames, inCh, outCh, [p](size_t i) { return sampleAt(p + i, SampleType::uint8); });
        break;
    case SampleType::unknown:
        std::fill(m_mixed.begin(), m_mixed.end(), 0.0f);
        break;
    }
}

void Pcm16Converter::appendOutput(AudioInputBuffer &out, size_t frames) const
{
    const size_t samples = frames * m_output.channels;
    const qsizetype start = out.data.size();
    out.data.resize(start + static_cast<qsizetype>(samples * 2));
    char *dst = out.data.data() + start;
    for (size_t i = 0; i < samples; ++i)
        qToLittleEndian<qint16>(toInt16(m_resampled[i]), dst + i * 2);
}

bool Pcm16Converter::convert(const AudioInputBuffer &in, AudioInputBuffer &out, QString &error)
{
    out.format = m_output;
    out.data.clear();
    if (!(in.format == m_input)) {
        error = QStringLiteral("buffer format differs from the device format");
        return false;
    }
    const quint32 frames = in.frameCount();
    m_lastCapacity = outputCapacity(frames, m_output.sampleRate / m_input.sampleRate);
    if (frames == 0)
        return true;
    mixDown(in);

    const size_t channels = m_output.channels;
    size_t consumed = 0;
    for (;;) {
        m_resampled.resize(size_t(m_lastCapacity) * channels);
        size_t inDone = 0;
        size_t outDone = 0;
        const soxr_error_t soxrError =
            soxr_process(m_resampler, m_mixed.data() + consumed * channels, frames - consumed, &inDone,
                         m_resampled.data(), m_lastCapacity, &outDone);
        if (soxrError) {
            error = QString::fromUtf8(soxrError);
            out.data.clear();
            return false;
        }
        if (inDone == 0 && outDone == 0 && consumed < frames) {
            error = QStringLiteral("resampler took no input");
            out.data.clear();
            return false;
        }
        consumed += inDone;
        appendOutput(out, outDone);
        // A full output buffer may mean the resampler holds more for this input: ask again.
        if (consumed >= frames && outDone < m_lastCapacity)
            return true;
    }
}

AudioInputBuffer Pcm16Converter::flush()
{
    AudioInputBuffer out;
    out.format = m_output;
    const size_t capacity = 4096;
    m_resampled.resize(capacity * m_output.channels);
    for (;;) {
        size_t outDone = 0;
        // No input at all marks the end of the stream.
        if (soxr_process(m_resampler, nullptr, 0, nullptr, m_resampled.data(), capacity, &outDone) || outDone == 0)
            break;
        appendOutput(out, outDone);
    }
    soxr_clear(m_resampler);
    return out;
}
