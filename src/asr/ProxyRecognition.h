#pragma once

#include "base/CancelToken.h"
#include "base/Result.h"
#include "net/VoxleServerApi.h"

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QString>
#include <optional>

// Proxy mode: the whole recording goes to the backend as one WAV file and the backend answers with the text.
namespace ProxyRecognition {

inline constexpr int kSampleRate = 16000;
inline constexpr int kChannels = 1;

// A 44-byte RIFF/WAVE header (16-bit integer PCM) followed by the samples unchanged; an odd byte count is
// written as is. Inputs whose sizes do not fit the header fields (over 4 GiB) are rejected with an empty
// result; the application never produces them.
QByteArray makeWav(const QByteArray &pcm, int sampleRate, int channels);

// Uploads 16 kHz mono PCM16 as "audio.wav" to /api/speech/recognize: the backend's text as received, or
// the user's message for the failure (VoxleServerApi::userMessage).
QCoro::Task<Result<QString>> recognizeViaProxy(VoxleServerApi &api, QByteArray pcm, QString deviceId,
                                               std::optional<QString> token, CancelToken cancel);

} // namespace ProxyRecognition
