#include "net/VoxleWireRecords.h"

#include <QJsonValue>
#include <cmath>

namespace {
// Reads fields of one object; any failure sticks, so a record is decoded in straight-line code and then
// accepted only when `ok` is still true.
class Reader
{
public:
    explicit Reader(const QJsonObject &o) : m_o(o) {}
    bool ok = true;

    QString string(const char *key)
    {
        const QJsonValue v = m_o.value(QLatin1String(key));
        if (!v.isString()) {
            ok = false;
            return {};
        }
        return v.toString();
    }
    std::optional<QString> optionalString(const char *key)
    {
        const QJsonValue v = m_o.value(QLatin1String(key));
        if (v.isUndefined() || v.isNull())
            return std::nullopt;
        if (!v.isString()) {
            ok = false;
            return std::nullopt;
        }
        return v.toString();
    }
    bool boolean(const char *key)
    {
        const QJsonValue v = m_o.value(QLatin1String(key));
        if (!v.isBool()) {
            ok = false;
            return false;
        }
        return v.toBool();
    }
    std::optional<bool> optionalBoolean(const char *key)
    {
        const QJsonValue v = m_o.value(QLatin1String(key));
        if (v.isUndefined() || v.isNull())
            return std::nullopt;
        if (!v.isBool()) {
            ok = false;
            return std::nullopt;
        }
        return v.toBool();
    }
    // A JSON number holding a whole value that fits a signed 64-bit integer.
    qint64 integer(const char *key)
    {
        const QJsonValue v = m_o.value(QLatin1String(key));
        const double d = v.toDouble();
        if (!v.isDouble() || std::trunc(d) != d || std::abs(d) > 9.2e18) {
            ok = false;
            return 0;
        }
        return static_cast<qint64>(d);
    }
    QJsonObject object(const char *key)
    {
        const QJsonValue v = m_o.value(QLatin1String(key));
        if (!v.isObject()) {
            ok = false;
            return {};
        }
        return v.toObject();
    }

private:
    const QJsonObject &m_o;
};

void putOptional(QJsonObject &o, const char *key, const std::optional<QString> &v)
{
    if (v)
        o.insert(QLatin1String(key), *v);
}
} // namespace

QJsonObject VoxleSendCodeRequest::toJson() const
{
    QJsonObject o{{QStringLiteral("phone"), phone}};
    putOptional(o, "sliderToken", sliderToken);
    return o;
}

std::optional<VoxleSendCodeResponse> VoxleSendCodeResponse::fromJson(const QJsonObject &o)
{
    Reader r(o);
    VoxleSendCodeResponse v{r.string("message")};
    return r.ok ? std::optional(v) : std::nullopt;
}

QJsonObject VoxlePhoneLoginRequest::toJson() const
{
    return QJsonObject{{QStringLiteral("phone"), phone}, {QStringLiteral("code"), code}};
}

QJsonObject VoxleUserSummaryDto::toJson() const
{
    QJsonObject o{{QStringLiteral("id"), id},
                  {QStringLiteral("isAdmin"), isAdmin},
                  {QStringLiteral("createdAtUtc"), createdAtUtc}};
    putOptional(o, "email", email);
    putOptional(o, "phone", phone);
    putOptional(o, "displayName", displayName);
    if (isDisabled)
        o.insert(QStringLiteral("isDisabled"), *isDisabled);
    putOptional(o, "subscriptionTier", subscriptionTier);
    putOptional(o, "lastLoginAtUtc", lastLoginAtUtc);
    return o;
}

std::optional<VoxleUserSummaryDto> VoxleUserSummaryDto::fromJson(const QJsonObject &o)
{
    Reader r(o);
    VoxleUserSummaryDto v;
    v.id = r.string("id");
    v.email = r.optionalString("email");
    v.phone = r.optionalString("phone");
    v.displayName = r.optionalString("displayName");
    v.isAdmin = r.boolean("isAdmin");
    v.isDisabled = r.optionalBoolean("isDisabled");
    v.subscriptionTier = r.optionalString("subscriptionTier");
    v.createdAtUtc = r.string("createdAtUtc");
    v.lastLoginAtUtc = r.optionalString("lastLoginAtUtc");
    return r.ok ? std::optional(v) : std::nullopt;
}

std::optional<VoxleAuthResponse> VoxleAuthResponse::fromJson(const QJsonObject &o)
{
    Reader r(o);
    VoxleAuthResponse v;
    v.token = r.string("token");
    v.expiresAtUtc = r.string("expiresAtUtc");
    const auto user = VoxleUserSummaryDto::fromJson(r.object("user"));
    if (!r.ok || !user)
        return std::nullopt;
    v.user = *user;
    return v;
}

std::optional<VoxleSliderChallengeResponse> VoxleSliderChallengeResponse::fromJson(const QJsonObject &o)
{
    Reader r(o);
    VoxleSliderChallengeResponse v;
    v.challengeId = r.string("challengeId");
    v.targetPosition = r.integer("targetPosition");
    return r.ok ? std::optional(v) : std::nullopt;
}

QJsonObject VoxleSliderVerifyRequest::toJson() const
{
    return QJsonObject{{QStringLiteral("challengeId"), challengeId},
                       {QStringLiteral("position"), static_cast<double>(position)}};
}

std::optional<VoxleSliderVerifyResponse> VoxleSliderVerifyResponse::fromJson(const QJsonObject &o)
{
    Reader r(o);
    VoxleSliderVerifyResponse v{r.string("sliderToken")};
    return r.ok ? std::optional(v) : std::nullopt;
}

QJsonObject VoxleAiCredentialsDto::toJson() const
{
    return QJsonObject{{QStringLiteral("apiKey"), apiKey},
                       {QStringLiteral("asrModel"), asrModel},
                       {QStringLiteral("llmModel"), llmModel}};
}

std::optional<VoxleAiCredentialsDto> VoxleAiCredentialsDto::fromJson(const QJsonObject &o)
{
    Reader r(o);
    VoxleAiCredentialsDto v;
    v.apiKey = r.string("apiKey");
    v.asrModel = r.string("asrModel");
    v.llmModel = r.string("llmModel");
    return r.ok ? std::optional(v) : std::nullopt;
}

QJsonObject VoxlePolishRequest::toJson() const
{
    return QJsonObject{{QStringLiteral("raw_text"), raw_text}, {QStringLiteral("scene"), scene}};
}

QJsonObject VoxleTranslateRequest::toJson() const
{
    return QJsonObject{{QStringLiteral("raw_text"), raw_text}, {QStringLiteral("target_language"), target_language}};
}

std::optional<VoxleTextResponse> VoxleTextResponse::fromJson(const QJsonObject &o)
{
    Reader r(o);
    VoxleTextResponse v{r.string("text")};
    return r.ok ? std::optional(v) : std::nullopt;
}

QJsonObject VoxleReportUsageRequest::toJson() const
{
    QJsonObject o{{QStringLiteral("event_type"), event_type},
                  {QStringLiteral("raw_text_length"), static_cast<double>(raw_text_length)},
                  {QStringLiteral("output_text_length"), static_cast<double>(output_text_length)},
                  {QStringLiteral("speech_duration_ms"), static_cast<double>(speech_duration_ms)}};
    putOptional(o, "mode", mode);
    return o;
}
