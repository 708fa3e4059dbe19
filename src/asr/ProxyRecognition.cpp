#include "asr/ProxyRecognition.h"

#include "net/Settle.h"

#include <QtEndian>
#include <limits>

namespace ProxyRecognition {
namespace {
void putU32(QByteArray &out, quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}
void putU16(QByteArray &out, quint16 v)
{
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}
} // namespace

QByteArray makeWav(const QByteArray &pcm, int sampleRate, int channels)
{
    const qint64 n = pcm.size();
    const qint64 byteRate = qint64(sampleRate) * channels * 2;
    const qint64 blockAlign = qint64(channels) * 2;
    constexpr qint64 u32Max = std::numeric_limits<quint32>::max();
    if (sampleRate <= 0 || channels <= 0 || n + 36 > u32Max || byteRate > u32Max || blockAlign > 0xFFFF)
        return {};

    QByteArray wav;
    wav.reserve(44 + n);
    wav.append("RIFF", 4);
    putU32(wav, quint32(n + 36));
    wav.append("WAVE", 4);
    wav.append("fmt ", 4);
    putU32(wav, 16);
    putU16(wav, 1);
    putU16(wav, quint16(channels));
    putU32(wav, quint32(sampleRate));
    putU32(wav, quint32(byteRate));
    putU16(wav, quint16(blockAlign));
    putU16(wav, 16);
    wav.append("data", 4);
    putU32(wav, quint32(n));
    wav.append(pcm);
    return wav;
}

QCoro::Task<Result<QString>> recognizeViaProxy(VoxleServerApi &api, QByteArray pcm, QString deviceId,
                                               std::optional<QString> token, CancelToken cancel)
{
    const QByteArray wav = makeWav(pcm, kSampleRate, kChannels);
    VoxleServerApi::Headers headers{{QStringLiteral("X-Device-Id"), deviceId}};
    const Result<VoxleTextResponse> response = co_await settle(api.uploadFile<VoxleTextResponse>(
        QStringLiteral("/api/speech/recognize"), wav, QStringLiteral("audio.wav"), QStringLiteral("audio/wav"),
        std::move(token), std::move(headers), std::move(cancel)));
    if (!response)
        co_return Result<QString>::failure(response.error());
    co_return Result<QString>(response->text);
}

} // namespace ProxyRecognition
