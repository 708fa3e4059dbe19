#include "PocketsphinxRecognitionEngine.h"

#include <pocketsphinx.h>

#include <QFileInfo>
#include <cmath>

namespace {
constexpr int kRate = 16000;

qint64 samplesToMs(qint64 samples)
{
    return samples * 1000 / kRate;
}

// Sentences end where pocketsphinx's voice activity detection hears silence again.
class PocketsphinxStream final : public RecognitionStream
{
public:
    PocketsphinxStream(PocketsphinxRecognitionEngine &engine, ps_decoder_t *decoder)
        : m_engine(engine), m_decoder(decoder)
    {
        ps_start_utt(m_decoder);
    }
    ~PocketsphinxStream() override
    {
        if (m_decoder) {
            ps_end_utt(m_decoder);
            m_engine.returnDecoder(m_decoder);
        }
    }

    void feed(const QByteArray &pcm) override
    {
        if (!m_decoder || m_finished)
            return;
        m_pending.append(pcm);
        const qsizetype samples = m_pending.size() / 2;
        if (samples == 0)
            return;
        ps_process_raw(m_decoder, reinterpret_cast<const int16 *>(m_pending.constData()), size_t(samples), FALSE,
                       FALSE);
        m_pending.remove(0, samples * 2);
        m_samples += samples;

        const bool inSpeech = ps_get_in_speech(m_decoder);
        if (inSpeech && !m_inSentence) {
            m_inSentence = true;
            m_sentenceBeginMs = samplesToMs(m_samples);
        }
        if (m_inSentence) {
            const QString text = hypothesis();
            if (!text.isEmpty() && text != m_lastPartial) {
                m_lastPartial = text;
                emit result({text, false, m_sentenceBeginMs, -1});
            }
        }
        if (!inSpeech && m_inSentence)
            endSentence(true);
    }

    void finish() override
    {
        if (m_finished)
            return;
        m_finished = true;
        if (m_decoder)
            endSentence(false);
        emit finished();
    }

private:
    QString hypothesis()
    {
        const char *hyp = ps_get_hyp(m_decoder, nullptr);
        return hyp ? QString::fromUtf8(hyp).trimmed() : QString();
    }

    void endSentence(bool restart)
    {
        ps_end_utt(m_decoder);
        const QString text = hypothesis();
        if (!text.isEmpty())
            emit result({text, true, m_sentenceBeginMs, samplesToMs(m_samples)});
        m_inSentence = false;
        m_lastPartial.clear();
        if (restart)
            ps_start_utt(m_decoder);
        else {
            m_engine.returnDecoder(m_decoder);
            m_decoder = nullptr;
        }
    }

    PocketsphinxRecognitionEngine &m_engine;
    ps_decoder_t *m_decoder;
    QByteArray m_pending;
    qint64 m_samples = 0;
    bool m_inSentence = false;
    qint64 m_sentenceBeginMs = 0;
    QString m_lastPartial;
    bool m_finished = false;
};

class FailingStream final : public RecognitionStream
{
public:
    explicit FailingStream(QString message) : m_message(std::move(message)) {}
    void feed(const QByteArray &) override {}
    void finish() override { emit failed(QStringLiteral("InternalError"), m_message); }

private:
    QString m_message;
};
} // namespace

PocketsphinxRecognitionEngine::PocketsphinxRecognitionEngine(const QString &modelDir)
{
    const QByteArray hmm = (modelDir + QStringLiteral("/en-us")).toLocal8Bit();
    const QByteArray lm = (modelDir + QStringLiteral("/en-us.lm.bin")).toLocal8Bit();
    const QByteArray dict = (modelDir + QStringLiteral("/cmudict-en-us.dict")).toLocal8Bit();
    if (!QFileInfo::exists(QString::fromLocal8Bit(hmm)) || !QFileInfo::exists(QString::fromLocal8Bit(dict))) {
        m_error = QStringLiteral("pocketsphinx model not found in ") + modelDir;
        return;
    }
    m_config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), "-lm", lm.constData(), "-dict",
                           dict.constData(), "-logfn", "/dev/null", nullptr);
    if (!m_config) {
        m_error = QStringLiteral("pocketsphinx rejected its configuration");
        return;
    }
    if (ps_decoder_t *decoder = ps_init(m_config))
        m_idle.push_back(decoder);
    else
        m_error = QStringLiteral("pocketsphinx could not load its model");
}

PocketsphinxRecognitionEngine::~PocketsphinxRecognitionEngine()
{
    for (ps_decoder_t *decoder : m_idle)
        ps_free(decoder);
    if (m_config)
        cmd_ln_free_r(m_config);
}

QString PocketsphinxRecognitionEngine::defaultModelDir()
{
    return QStringLiteral("/usr/share/pocketsphinx/model/en-us");
}

ps_decoder_t *PocketsphinxRecognitionEngine::takeDecoder()
{
    if (!m_config)
        return nullptr;
    if (!m_idle.empty()) {
        ps_decoder_t *decoder = m_idle.back();
        m_idle.pop_back();
        return decoder;
    }
    return ps_init(m_config);
}

void PocketsphinxRecognitionEngine::returnDecoder(ps_decoder_t *decoder)
{
    m_idle.push_back(decoder);
}

std::unique_ptr<RecognitionStream> PocketsphinxRecognitionEngine::openStream(int sampleRate)
{
    if (sampleRate != kRate)
        return std::make_unique<FailingStream>(QStringLiteral("only 16000 Hz audio is supported"));
    ps_decoder_t *decoder = takeDecoder();
    if (!decoder)
        return std::make_unique<FailingStream>(m_error.isEmpty() ? QStringLiteral("recogniser unavailable") : m_error);
    return std::make_unique<PocketsphinxStream>(*this, decoder);
}

RecognitionOutcome PocketsphinxRecognitionEngine::recognize(const QByteArray &pcm16kMono)
{
    ps_decoder_t *decoder = takeDecoder();
    if (!decoder)
        return {false, {}, QStringLiteral("InternalError"), m_error};
    // A whole-utterance pass normalises over all of its audio; long silence around the speech skews that and
    // turns "hello world" into "to know where old", so only the speech and a short margin are decoded.
    const QByteArray speech = trimSilence(pcm16kMono);
    ps_start_utt(decoder);
    ps_process_raw(decoder, reinterpret_cast<const int16 *>(speech.constData()), size_t(speech.size() / 2), FALSE,
                   TRUE);
    ps_end_utt(decoder);
    const char *hyp = ps_get_hyp(decoder, nullptr);
    const QString text = hyp ? QString::fromUtf8(hyp).trimmed() : QString();
    returnDecoder(decoder);
    return {true, text, {}, {}};
}

QByteArray PocketsphinxRecognitionEngine::trimSilence(const QByteArray &pcm16kMono)
{
    constexpr qsizetype kWindow = kRate / 50; // 20 ms
    constexpr qsizetype kMargin = kRate / 2;  // 0.5 s
    constexpr double kThreshold = 500.0;      // RMS, about -36 dBFS
    const auto *samples = reinterpret_cast<const qint16 *>(pcm16kMono.constData());
    const qsizetype count = pcm16kMono.size() / 2;
    qsizetype first = -1;
    qsizetype last = -1;
    for (qsizetype start = 0; start + kWindow <= count; start += kWindow) {
        double sum = 0;
        for (qsizetype i = start; i < start + kWindow; ++i)
            sum += double(samples[i]) * samples[i];
        if (std::sqrt(sum / kWindow) >= kThreshold) {
            if (first < 0)
                first = start;
            last = start + kWindow;
        }
    }
    if (first < 0)
        return pcm16kMono;
    first = std::max<qsizetype>(0, first - kMargin);
    last = std::min(count, last + kMargin);
    return pcm16kMono.mid(first * 2, (last - first) * 2);
}
