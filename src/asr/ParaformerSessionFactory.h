#pragma once

#include "asr/StreamingSession.h"
#include "base/Clock.h"

#include <QUrl>

// Makes ParaformerStreamingSessions against one realtime endpoint (see dashScopeRealtimeUrl()).
class ParaformerSessionFactory final : public StreamingSessionFactory
{
public:
    ParaformerSessionFactory(Clock &clock, const QUrl &endpoint);

    std::unique_ptr<StreamingSession> create(const QString &apiKey, const QString &model, int sampleRate,
                                             const std::optional<QStringList> &languageHints) override;

private:
    Clock &m_clock;
    QUrl m_endpoint;
};
