// Backend answers as the client reads them: the response step for every record type, the error-body reader
// and the log redaction. The first byte picks the transport outcome and the status; the rest is the body.
#include "FuzzSupport.h"

#include "net/VoxleServerApi.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QStringDecoder>

namespace {
template <typename Response> std::optional<Response> decode(const VoxleServerApi::RawResponse &raw)
{
    try {
        return VoxleServerApi::decodeResponse<Response>(raw);
    } catch (const VoxleApiError &error) {
        fuzz::require(!error.message.isEmpty(), "an API error carries a message");
        return std::nullopt;
    }
}

// A record read from the wire is also stored in the settings in its own JSON form and read back at the next
// launch: that round trip must give the same record.
template <typename Record> void requireRoundTrip(const std::optional<Record> &record)
{
    if (!record)
        return;
    const auto again = Record::fromJson(record->toJson());
    fuzz::require(again.has_value() && *again == *record, "a decoded record survives its stored form");
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::silenceLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    static const int kStatuses[] = {200, 201, 204, 299, 300, 400, 401, 403, 404, 422, 429, 500, 502, 503, 199, 0};
    VoxleServerApi::RawResponse raw;
    raw.isHttp = (data[0] & 0x80) == 0;
    raw.status = kStatuses[data[0] & 0x0f];
    raw.body = fuzz::bytes(data + 1, size - 1);

    requireRoundTrip(decode<VoxleUserSummaryDto>(raw));
    requireRoundTrip(decode<VoxleAiCredentialsDto>(raw));
    if (const auto auth = decode<VoxleAuthResponse>(raw))
        fuzz::require(!auth->token.isNull(), "a decoded sign-in answer has a token");
    decode<VoxleSendCodeResponse>(raw);
    decode<VoxleSliderChallengeResponse>(raw);
    decode<VoxleSliderVerifyResponse>(raw);
    decode<VoxleTextResponse>(raw);
    decode<std::optional<VoxleTextResponse>>(raw);

    if (const auto message = VoxleServerApi::serverErrorMessage(raw.body))
        fuzz::require(!message->isEmpty(), "a server message is never empty");

    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(raw.body);
    if (decoder.hasError())
        return 0;
    const QString logged = VoxleServerApi::bodyForLog(text);
    // In a JSON body, a secret key followed by a string value that is not the redaction marker is a secret in
    // the log. (A quote that belongs to a key is never preceded by a backslash; an escaped one always is.)
    static const QRegularExpression secretInClear(
        QStringLiteral(R"RE((?<!\\)"(token|apiKey|sliderToken|code)"\s*:\s*"(?!<redacted>"))RE"));
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8());
    if (doc.isObject() || doc.isArray())
        fuzz::require(!secretInClear.match(logged).hasMatch(), "secret values of JSON bodies are redacted");
    return 0;
}
