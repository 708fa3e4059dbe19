// The diagnostics file as the debug event reporter reads it, and the event record built from what it gives.
#include "FuzzSupport.h"

#include "diagnostics/DebugEvent.h"
#include "diagnostics/DebugEventConfig.h"

#include <QJsonDocument>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::silenceLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const DebugEventConfig config = DebugEventConfig::fromFileContents(fuzz::bytes(data, size));
    fuzz::require(!config.collectorUrl.contains(QLatin1Char('\n')) && !config.sessionId.contains(QLatin1Char('\n')),
                  "a value never spans lines");
    if (const auto url = config.collectorEndpoint())
        fuzz::require(url->isValid() && !url->scheme().isEmpty(), "only absolute URLs are collectors");

    const QByteArray body = debugEventBody(config, QStringLiteral("Fuzz.location"), QStringLiteral("[DEBUG] fuzz"),
                                           QStringLiteral("A"), QJsonObject{{QStringLiteral("len"), 3}}, 1);
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    fuzz::require(error.error == QJsonParseError::NoError && doc.isObject(), "the event is a JSON object");
    // Qt writes a lone surrogate as U+FFFD, so only well-formed session ids come back unchanged.
    const QString sent = doc.object().value(QStringLiteral("sessionId")).toString();
    if (config.sessionId.isValidUtf16())
        fuzz::require(sent == config.sessionId, "the session id is sent as read");
    return 0;
}
