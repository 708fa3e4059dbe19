#pragma once

#include <QJsonObject>
#include <QString>
#include <optional>

// The JSON records exchanged with the backend. Keys are exactly the wire keys (no case conversion). Optional
// request fields are left out when they have no value. `fromJson` enforces required keys and types: a
// missing required key or a value of the wrong type (optional ones included; null counts as absent) makes
// the whole record undecodable. Unknown keys are ignored.

struct VoxleSendCodeRequest {
    QString phone;
    std::optional<QString> sliderToken;
    QJsonObject toJson() const;
};

struct VoxleSendCodeResponse {
    QString message;
    static std::optional<VoxleSendCodeResponse> fromJson(const QJsonObject &o);
};

struct VoxlePhoneLoginRequest {
    QString phone;
    QString code;
    QJsonObject toJson() const;
};

struct VoxleUserSummaryDto {
    QString id;
    std::optional<QString> email;
    std::optional<QString> phone;
    std::optional<QString> displayName;
    bool isAdmin = false;
    std::optional<bool> isDisabled;
    std::optional<QString> subscriptionTier;
    QString createdAtUtc;
    std::optional<QString> lastLoginAtUtc;

    QJsonObject toJson() const;
    static std::optional<VoxleUserSummaryDto> fromJson(const QJsonObject &o);
    bool operator==(const VoxleUserSummaryDto &) const = default;
};

struct VoxleAuthResponse {
    QString token;
    QString expiresAtUtc;
    VoxleUserSummaryDto user;
    static std::optional<VoxleAuthResponse> fromJson(const QJsonObject &o);
};

struct VoxleSliderChallengeResponse {
    QString challengeId;
    qint64 targetPosition = 0;
    static std::optional<VoxleSliderChallengeResponse> fromJson(const QJsonObject &o);
};

struct VoxleSliderVerifyRequest {
    QString challengeId;
    qint64 position = 0;
    QJsonObject toJson() const;
};

struct VoxleSliderVerifyResponse {
    QString sliderToken;
    static std::optional<VoxleSliderVerifyResponse> fromJson(const QJsonObject &o);
};

struct VoxleAiCredentialsDto {
    QString apiKey;
    QString asrModel;
    QString llmModel;
    QJsonObject toJson() const;
    static std::optional<VoxleAiCredentialsDto> fromJson(const QJsonObject &o);
    bool operator==(const VoxleAiCredentialsDto &) const = default;
};

struct VoxlePolishRequest {
    QString raw_text;
    QString scene;
    QJsonObject toJson() const;
};

struct VoxleTranslateRequest {
    QString raw_text;
    QString target_language;
    QJsonObject toJson() const;
};

struct VoxleTextResponse {
    QString text;
    static std::optional<VoxleTextResponse> fromJson(const QJsonObject &o);
};

struct VoxleReportUsageRequest {
    QString event_type;
    std::optional<QString> mode;
    qint64 raw_text_length = 0;
    qint64 output_text_length = 0;
    qint64 speech_duration_ms = 0;
    QJsonObject toJson() const;
};
