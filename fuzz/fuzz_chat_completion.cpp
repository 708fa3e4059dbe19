// DashScope chat-completion answers as the client judges them. The first byte picks the status (or an answer
// that is not HTTP); the rest is the body.
#include "FuzzSupport.h"

#include "net/ChatCompletionClient.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::silenceLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    static const int kStatuses[] = {200, 200, 200, 200, 201, 204, 400, 401, 403, 404, 429, 500, 502, 503, 0, -1};
    const int pick = kStatuses[data[0] & 0x0f];
    const std::optional<int> status = pick < 0 ? std::nullopt : std::optional<int>(pick);
    const QByteArray body = fuzz::bytes(data + 1, size - 1);

    const ChatCompletionClient::Result result = ChatCompletionClient::resultOf(status, body);
    const int outcomes =
        int(result.text.has_value()) + int(result.error.has_value()) + int(result.transport.has_value());
    fuzz::require(outcomes == 1, "exactly one of text, error and transport");
    if (result.error)
        fuzz::require(!result.error->isEmpty(), "an error has a message");
    if (result.text)
        fuzz::require(status == 200, "text comes only from a 200 answer");
    if (status && *status != 200)
        fuzz::require(ChatCompletionClient::chatErrorMessage(body, *status) == result.error, "error message");
    return 0;
}
