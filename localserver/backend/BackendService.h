#pragma once

#include "HttpFront.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

class RecognitionEngine;

// The product backend as the stand-in plays it, all in memory:
//
//   POST /api/auth/send-code      needs a slider token from slider-verify (single use); the SMS code is logged
//                                 on stderr, or fixed by --sms-code for tests
//   POST /api/auth/phone-login    the last code sent to that phone; creates the user on first sign-in
//   GET  /api/auth/slider-challenge, POST /api/auth/slider-verify
//                                 a random target; |position - target| <= --slider-tolerance (default 6);
//                                 each challenge id is good for one attempt
//   GET  /api/auth/me             the bearer token's user
//   GET  /api/config/ai-credentials   X-Device-Id required; a bearer token, when sent, must be valid; hands
//                                 out the stand-in's DashScope key (--api-key)
//   POST /api/text/polish         rule-based clean-up; POST /api/text/translate: an honest 501
//   POST /api/speech/recognize    multipart WAV (16 kHz mono PCM16 checked), PCM handed to the engine
//   POST /api/usage/events        bearer token required; events kept for inspection
//   POST /compatible-mode/v1/chat/completions   DashScope chat: bearer key checked, polish by clean-up,
//                                 translation refused honestly
//
// Test controls:
//   POST /__control/backend       {"rules": [{"method", "path", "status", "body" (text) or "json" (any JSON),
//                                 "content_type", "delay_ms", "hang": true, "times": n}], "reset": true}
//                                 scripted answers take precedence over the real handlers; a rule with
//                                 "times" is used that often, otherwise for good. "reset" forgets users,
//                                 tokens, events and the request log.
//   GET  /__control/usage         {"events": [{"authorization", "device_id", "body"}]}
//   GET  /__control/backend/requests  {"requests": [{"method", "path", "headers": {...}, "body"}]}
//   POST /__control/backend/token {"phone", "token", "expiresAtUtc"}: registers a token directly
class BackendService : public QObject
{
    Q_OBJECT
public:
    BackendService(HttpFront &front, RecognitionEngine &engine, const QStringList &args, QObject *parent = nullptr);

private:
    struct User {
        QJsonObject record;
    };
    struct Session {
        QString phone;
        QDateTime expiresAt;
    };
    struct Challenge {
        int target = 0;
        QDateTime expiresAt;
    };

    // Wraps a handler: logs the request, applies scripted rules, then runs it.
    void serve(const QByteArray &method, const QByteArray &path,
               std::function<HttpResponse(const HttpRequest &)> handler);

    HttpResponse sendCode(const HttpRequest &request);
    HttpResponse phoneLogin(const HttpRequest &request);
    HttpResponse sliderChallenge(const HttpRequest &request);
    HttpResponse sliderVerify(const HttpRequest &request);
    HttpResponse me(const HttpRequest &request);
    HttpResponse aiCredentials(const HttpRequest &request);
    HttpResponse polish(const HttpRequest &request);
    HttpResponse translate(const HttpRequest &request);
    HttpResponse recognize(const HttpRequest &request);
    HttpResponse usageEvents(const HttpRequest &request);
    HttpResponse chatCompletions(const HttpRequest &request);
    HttpResponse control(const HttpRequest &request);
    HttpResponse registerToken(const HttpRequest &request);

    // The user of a valid bearer token; `present` tells whether an Authorization header came at all.
    const User *authorizedUser(const HttpRequest &request, bool *present = nullptr) const;
    std::optional<HttpResponse> checkDeviceId(const HttpRequest &request) const;

    HttpFront &m_front;
    RecognitionEngine &m_engine;
    QString m_apiKey;
    QString m_fixedSmsCode;
    int m_sliderTolerance = 6;
    qint64 m_tokenLifetimeSecs = 7 * 24 * 3600;

    QHash<QString, User> m_users;           // by phone
    QHash<QString, Session> m_sessions;     // by token
    QHash<QString, QString> m_pendingCodes; // phone -> code
    QHash<QString, Challenge> m_challenges;
    QHash<QString, QDateTime> m_sliderTokens;
    int m_nextUserId = 1;
    QJsonArray m_usage;
    QJsonArray m_requests;
    QJsonArray m_rules;
    QList<Responder> m_hanging;
};
