#include "asr/ParaformerSessionFactory.h"

#include "asr/ParaformerStreamingSession.h"

ParaformerSessionFactory::ParaformerSessionFactory(Clock &clock, const QUrl &endpoint)
    : m_clock(clock), m_endpoint(endpoint)
{
}

std::unique_ptr<StreamingSession> ParaformerSessionFactory::create(const QString &apiKey, const QString &model,
                                                                   int sampleRate,
                                                                   const std::optional<QStringList> &languageHints)
{
    return std::make_unique<ParaformerStreamingSession>(m_clock, m_endpoint, apiKey, model, sampleRate, languageHints);
}
