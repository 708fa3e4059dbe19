#pragma once

#include "RecognitionEngine.h"

#include <QString>
#include <memory>
#include <vector>

struct ps_decoder_s;
struct cmd_ln_s;

// Offline English recognition with Debian's pocketsphinx and its en-us model. Decoders are expensive to load
// (about a third of a second), so idle ones are kept and handed to the next stream.
class PocketsphinxRecognitionEngine final : public RecognitionEngine
{
public:
    explicit PocketsphinxRecognitionEngine(const QString &modelDir = defaultModelDir());
    ~PocketsphinxRecognitionEngine() override;

    static QString defaultModelDir();
    // Empty when the model loaded.
    QString loadError() const { return m_error; }

    std::unique_ptr<RecognitionStream> openStream(int sampleRate) override;
    RecognitionOutcome recognize(const QByteArray &pcm16kMono) override;

    // Decoder pool, used by the streams.
    ps_decoder_s *takeDecoder();
    void returnDecoder(ps_decoder_s *decoder);

    // The speech of a recording with at most 0.5 s of the silence around it.
    static QByteArray trimSilence(const QByteArray &pcm16kMono);

private:
    cmd_ln_s *m_config = nullptr;
    std::vector<ps_decoder_s *> m_idle;
    QString m_error;
};
