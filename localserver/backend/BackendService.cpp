#include "backend/BackendService.h"

#include "RecognitionEngine.h"
#include "backend/TextCleanup.h"

#include <QCommandLineParser>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTimer>
#include <QUuid>
#include <QtEndian>
#include <cstdio>

namespace {
HttpResponse json(int status, const QJsonObject &body)
{
    return HttpResponse{status, "application/json", QJsonDocument(body).toJson(QJsonDocument::Compact), {}};
}

// {"detail": "..."}: the form the client reads for a plain refusal.
HttpResponse detail(int status, const QString &message)
{
    return json(status, QJsonObject{{QStringLiteral("detail"), message}});
}

// {"detail": [{"loc": [...], "msg": "field required"}]}: a validation failure.
HttpResponse fieldRequired(const QString &field)
{
    const QJsonObject item{{QStringLiteral("loc"), QJsonArray{QStringLiteral("body"), field}},
                           {QStringLiteral("msg"), QStringLiteral("field required")},
                           {QStringLiteral("type"), QStringLiteral("value_error.missing")}};
    return json(422, QJsonObject{{QStringLiteral("detail"), QJsonArray{item}}});
}

HttpResponse dashScopeError(int status, const QString &message, const QString &code)
{
    const QJsonObject error{{QStringLiteral("message"), message},
                            {QStringLiteral("type"), QStringLiteral("invalid_request_error")},
                            {QStringLiteral("param"), QJsonValue::Null},
                            {QStringLiteral("code"), code}};
    return json(status,
                QJsonObject{{QStringLiteral("error"), error},
                            {QStringLiteral("request_id"), QUuid::createUuid().toString(QUuid::WithoutBraces)}});
}

std::optional<QJsonObject> jsonBody(const HttpRequest &request)
{
    const QJsonDocument doc = QJsonDocument::fromJson(request.body);
    if (!doc.isObject())
        return std::nullopt;
    return doc.object();
}

QString isoNow(qint64 plusSecs = 0)
{
    return QDateTime::currentDateTimeUtc().addSecs(plusSecs).toString(Qt::ISODateWithMs);
}

QString randomHex(int bytes)
{
    QByteArray raw(bytes, Qt::Uninitialized);
    for (char &c : raw)
        c = char(QRandomGenerator::system()->bounded(256));
    return QString::fromLatin1(raw.toHex());
}

QString bearerOf(const HttpRequest &request)
{
    const QByteArray value = request.headers.value("authorization");
    if (!value.startsWith("Bearer "))
        return {};
    return QString::fromUtf8(value.mid(7)).trimmed();
}

// The one file part of a multipart/form-data body, laid out exactly as the desktop client sends it.
std::optional<QByteArray> multipartFile(const HttpRequest &request, QString *problem)
{
    const QByteArray contentType = request.headers.value("content-type");
    const QByteArray prefix = "multipart/form-data; boundary=";
    if (!contentType.startsWith(prefix)) {
        *problem = QStringLiteral("expected multipart/form-data");
        return std::nullopt;
    }
    const QByteArray boundary = contentType.mid(prefix.size());
    const QByteArray opening = "--" + boundary + "\r\n";
    const QByteArray closing = "\r\n--" + boundary + "--\r\n";
    const QByteArray &body = request.body;
    if (boundary.isEmpty() || !body.startsWith(opening) || !body.endsWith(closing)) {
        *problem = QStringLiteral("malformed multipart body");
        return std::nullopt;
    }
    const qsizetype headEnd = body.indexOf("\r\n\r\n", opening.size());
    if (headEnd < 0) {
        *problem = QStringLiteral("malformed multipart part");
        return std::nullopt;
    }
    const QByteArray head = body.mid(opening.size(), headEnd - opening.size());
    if (!head.contains("Content-Disposition: form-data; name=\"file\"")) {
        *problem = QStringLiteral("no file part");
        return std::nullopt;
    }
    const qsizetype start = headEnd + 4;
    return body.mid(start, body.size() - closing.size() - start);
}

// The PCM of a 16 kHz mono 16-bit WAV with the plain 44-byte header.
std::optional<QByteArray> wavPcm(const QByteArray &wav, QString *problem)
{
    auto u32 = [&](int at) { return qFromLittleEndian<quint32>(wav.constData() + at); };
    auto u16 = [&](int at) { return qFromLittleEndian<quint16>(wav.constData() + at); };
    if (wav.size() < 44 || !wav.startsWith("RIFF") || wav.mid(8, 8) != "WAVEfmt " || wav.mid(36, 4) != "data") {
        *problem = QStringLiteral("not a WAV file");
        return std::nullopt;
    }
    const qint64 n = wav.size() - 44;
    if (u32(4) != n + 36 || u32(40) != n || u32(16) != 16) {
        *problem = QStringLiteral("WAV sizes do not match the data");
        return std::nullopt;
    }
    if (u16(20) != 1 || u16(22) != 1 || u32(24) != 16000 || u32(28) != 32000 || u16(32) != 2 || u16(34) != 16) {
        *problem = QStringLiteral("expected 16 kHz mono 16-bit PCM");
        return std::nullopt;
    }
    return wav.mid(44);
}
} // namespace

BackendService::BackendService(HttpFront &front, RecognitionEngine &engine, const QStringList &args, QObject *parent)
    : QObject(parent), m_front(front), m_engine(engine)
{
    QCommandLineParser parser;
    const QCommandLineOption key(QStringLiteral("api-key"), QString(), QStringLiteral("key"),
                                 QStringLiteral("sk-local-test"));
    const QCommandLineOption sms(QStringLiteral("sms-code"), QString(), QStringLiteral("code"));
    const QCommandLineOption tolerance(QStringLiteral("slider-tolerance"), QString(), QStringLiteral("percent"),
                                       QStringLiteral("3"));
    const QCommandLineOption ttl(QStringLiteral("token-ttl-s"), QString(), QStringLiteral("seconds"),
                                 QString::number(m_tokenLifetimeSecs));
    parser.addOptions({key, sms, tolerance, ttl});
    parser.parse(args); // unknown options belong to the rest of the server
    m_apiKey = parser.value(key);
    m_fixedSmsCode = parser.value(sms);
    m_sliderTolerance = parser.value(tolerance).toInt();
    m_tokenLifetimeSecs = parser.value(ttl).toLongLong();

    serve("POST", "/api/auth/send-code", [this](const HttpRequest &r) { return sendCode(r); });
    serve("POST", "/api/auth/phone-login", [this](const HttpRequest &r) { return phoneLogin(r); });
    serve("GET", "/api/auth/slider-challenge", [this](const HttpRequest &r) { return sliderChallenge(r); });
    serve("POST", "/api/auth/slider-verify", [this](const HttpRequest &r) { return sliderVerify(r); });
    serve("GET", "/api/auth/me", [this](const HttpRequest &r) { return me(r); });
    serve("GET", "/api/config/ai-credentials", [this](const HttpRequest &r) { return aiCredentials(r); });
    serve("POST", "/api/text/polish", [this](const HttpRequest &r) { return polish(r); });
    serve("POST", "/api/text/translate", [this](const HttpRequest &r) { return translate(r); });
    serve("POST", "/api/speech/recognize", [this](const HttpRequest &r) { return recognize(r); });
    serve("POST", "/api/usage/events", [this](const HttpRequest &r) { return usageEvents(r); });
    serve("POST", "/compatible-mode/v1/chat/completions", [this](const HttpRequest &r) { return chatCompletions(r); });

    front.route("POST", "/__control/backend", [this](const HttpRequest &r, Responder respond) { respond(control(r)); });
    front.route("POST", "/__control/backend/token",
                [this](const HttpRequest &r, Responder respond) { respond(registerToken(r)); });
    front.route("GET", "/__control/usage", [this](const HttpRequest &, Responder respond) {
        respond(json(200, QJsonObject{{QStringLiteral("events"), m_usage}}));
    });
    // What a person would read off the screen or the phone: open slider targets and the codes sent.
    front.route("GET", "/__control/backend/auth", [this](const HttpRequest &, Responder respond) {
        QJsonObject challenges;
        for (auto it = m_challenges.cbegin(); it != m_challenges.cend(); ++it)
            challenges.insert(it.key(), it->target);
        QJsonObject codes;
        for (auto it = m_pendingCodes.cbegin(); it != m_pendingCodes.cend(); ++it)
            codes.insert(it.key(), it.value());
        respond(json(200, QJsonObject{{QStringLiteral("challenges"), challenges}, {QStringLiteral("codes"), codes}}));
    });
    front.route("GET", "/__control/backend/requests", [this](const HttpRequest &, Responder respond) {
        respond(json(200, QJsonObject{{QStringLiteral("requests"), m_requests}}));
    });
}

void BackendService::serve(const QByteArray &method, const QByteArray &path,
                           std::function<HttpResponse(const HttpRequest &)> handler)
{
    m_front.route(method, path, [this, handler](const HttpRequest &request, Responder respond) {
        QJsonObject headers;
        for (auto it = request.headers.cbegin(); it != request.headers.cend(); ++it)
            headers.insert(QString::fromUtf8(it.key()), QString::fromUtf8(it.value()));
        m_requests.append(QJsonObject{{QStringLiteral("method"), QString::fromUtf8(request.method)},
                                      {QStringLiteral("path"), QString::fromUtf8(request.path)},
                                      {QStringLiteral("headers"), headers},
                                      {QStringLiteral("body"), QString::fromUtf8(request.body)},
                                      {QStringLiteral("body_base64"), QString::fromLatin1(request.body.toBase64())}});

        for (qsizetype i = 0; i < m_rules.size(); ++i) {
            QJsonObject rule = m_rules.at(i).toObject();
            if (rule.value(QStringLiteral("path")).toString() != QString::fromUtf8(request.path))
                continue;
            const QString ruleMethod = rule.value(QStringLiteral("method")).toString();
            if (!ruleMethod.isEmpty() && ruleMethod.toUpper().toUtf8() != request.method.toUpper())
                continue;
            if (rule.contains(QStringLiteral("times"))) {
                const int left = rule.value(QStringLiteral("times")).toInt() - 1;
                if (left <= 0) {
                    m_rules.removeAt(i);
                } else {
                    QJsonObject kept = rule;
                    kept.insert(QStringLiteral("times"), left);
                    m_rules.replace(i, kept);
                }
            }
            if (rule.value(QStringLiteral("hang")).toBool()) {
                m_hanging.append(respond); // keeps the connection open, unanswered
                return;
            }
            HttpResponse response;
            response.status = rule.value(QStringLiteral("status")).toInt(200);
            response.contentType =
                rule.value(QStringLiteral("content_type")).toString(QStringLiteral("application/json")).toUtf8();
            const QJsonValue body = rule.value(QStringLiteral("json"));
            if (body.isObject())
                response.body = QJsonDocument(body.toObject()).toJson(QJsonDocument::Compact);
            else if (body.isArray())
                response.body = QJsonDocument(body.toArray()).toJson(QJsonDocument::Compact);
            else
                response.body = rule.value(QStringLiteral("body")).toString().toUtf8();
            const int delay = rule.value(QStringLiteral("delay_ms")).toInt();
            if (delay > 0)
                QTimer::singleShot(delay, this, [respond, response]() { respond(response); });
            else
                respond(response);
            return;
        }
        respond(handler(request));
    });
}

HttpResponse BackendService::control(const HttpRequest &request)
{
    const auto body = jsonBody(request);
    if (!body)
        return detail(400, QStringLiteral("control body must be a JSON object"));
    if (body->value(QStringLiteral("reset")).toBool()) {
        m_users.clear();
        m_sessions.clear();
        m_pendingCodes.clear();
        m_challenges.clear();
        m_sliderTokens.clear();
        m_usage = QJsonArray();
        m_requests = QJsonArray();
        m_hanging.clear();
    }
    m_rules = body->value(QStringLiteral("rules")).toArray();
    return json(200, QJsonObject{{QStringLiteral("ok"), true}});
}

HttpResponse BackendService::registerToken(const HttpRequest &request)
{
    const auto body = jsonBody(request);
    if (!body)
        return detail(400, QStringLiteral("control body must be a JSON object"));
    const QString phone = body->value(QStringLiteral("phone")).toString();
    const QString token = body->value(QStringLiteral("token")).toString();
    const QDateTime expires =
        QDateTime::fromString(body->value(QStringLiteral("expiresAtUtc")).toString(), Qt::ISODateWithMs);
    if (phone.isEmpty() || token.isEmpty() || !expires.isValid())
        return detail(400, QStringLiteral("phone, token and expiresAtUtc are required"));
    if (!m_users.contains(phone)) {
        m_users.insert(phone, User{QJsonObject{{QStringLiteral("id"), QString::number(m_nextUserId++)},
                                               {QStringLiteral("phone"), phone},
                                               {QStringLiteral("isAdmin"), false},
                                               {QStringLiteral("createdAtUtc"), isoNow()}}});
    }
    m_sessions.insert(token, Session{phone, expires});
    return json(200, QJsonObject{{QStringLiteral("user"), m_users.value(phone).record}});
}

const BackendService::User *BackendService::authorizedUser(const HttpRequest &request, bool *present) const
{
    if (present)
        *present = request.headers.contains("authorization");
    const auto it = m_sessions.constFind(bearerOf(request));
    if (it == m_sessions.cend() || it->expiresAt <= QDateTime::currentDateTimeUtc())
        return nullptr;
    const auto user = m_users.constFind(it->phone);
    return user == m_users.cend() ? nullptr : &*user;
}

std::optional<HttpResponse> BackendService::checkDeviceId(const HttpRequest &request) const
{
    static const QRegularExpression hex64(QStringLiteral("^[0-9a-f]{64}$"));
    if (!hex64.match(QString::fromUtf8(request.headers.value("x-device-id"))).hasMatch())
        return detail(400, QStringLiteral("缺少或无效的设备标识"));
    // A token, when one is sent, must be valid: a stale sign-in should not pass as anonymous.
    bool present = false;
    if (!authorizedUser(request, &present) && present)
        return detail(401, QStringLiteral("登录已过期，请重新登录"));
    return std::nullopt;
}

HttpResponse BackendService::sendCode(const HttpRequest &request)
{
    const auto body = jsonBody(request);
    if (!body || !body->value(QStringLiteral("phone")).isString())
        return fieldRequired(QStringLiteral("phone"));
    const QString phone = body->value(QStringLiteral("phone")).toString().trimmed();
    static const QRegularExpression mobile(QStringLiteral("^1\\d{10}$"));
    if (!mobile.match(phone).hasMatch())
        return detail(400, QStringLiteral("手机号格式不正确"));
    const QString sliderToken = body->value(QStringLiteral("sliderToken")).toString();
    const auto slider = m_sliderTokens.constFind(sliderToken);
    if (sliderToken.isEmpty() || slider == m_sliderTokens.cend() || *slider <= QDateTime::currentDateTimeUtc())
        return detail(400, QStringLiteral("请先完成滑块验证"));
    m_sliderTokens.remove(sliderToken);
    const QString code =
        !m_fixedSmsCode.isEmpty()
            ? m_fixedSmsCode
            : QStringLiteral("%1").arg(QRandomGenerator::system()->bounded(1000000), 6, 10, QLatin1Char('0'));
    m_pendingCodes.insert(phone, code);
    std::fprintf(stderr, "[backend] SMS code for %s: %s\n", qPrintable(phone), qPrintable(code));
    return json(200, QJsonObject{{QStringLiteral("message"), QStringLiteral("验证码已发送")}});
}

HttpResponse BackendService::phoneLogin(const HttpRequest &request)
{
    const auto body = jsonBody(request);
    if (!body || !body->value(QStringLiteral("phone")).isString())
        return fieldRequired(QStringLiteral("phone"));
    if (!body->value(QStringLiteral("code")).isString())
        return fieldRequired(QStringLiteral("code"));
    const QString phone = body->value(QStringLiteral("phone")).toString().trimmed();
    const QString code = body->value(QStringLiteral("code")).toString().trimmed();
    if (!m_pendingCodes.contains(phone) || m_pendingCodes.value(phone) != code)
        return detail(400, QStringLiteral("验证码错误或已过期"));
    m_pendingCodes.remove(phone);
    User &user = m_users[phone];
    if (user.record.isEmpty()) {
        user.record = QJsonObject{{QStringLiteral("id"), QString::number(m_nextUserId++)},
                                  {QStringLiteral("phone"), phone},
                                  {QStringLiteral("isAdmin"), false},
                                  {QStringLiteral("isDisabled"), false},
                                  {QStringLiteral("subscriptionTier"), QStringLiteral("free")},
                                  {QStringLiteral("createdAtUtc"), isoNow()}};
    }
    user.record.insert(QStringLiteral("lastLoginAtUtc"), isoNow());
    const QString token = randomHex(24);
    const QString expires = isoNow(m_tokenLifetimeSecs);
    m_sessions.insert(token, Session{phone, QDateTime::fromString(expires, Qt::ISODateWithMs)});
    return json(200, QJsonObject{{QStringLiteral("token"), token},
                                 {QStringLiteral("expiresAtUtc"), expires},
                                 {QStringLiteral("user"), user.record}});
}

HttpResponse BackendService::sliderChallenge(const HttpRequest &)
{
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    // The slot's place on the track in percent, as the captcha draws it; never flush with either end.
    const int target = 10 + int(QRandomGenerator::global()->bounded(81));
    m_challenges.insert(id, Challenge{target, QDateTime::currentDateTimeUtc().addSecs(120)});
    return json(200, QJsonObject{{QStringLiteral("challengeId"), id}, {QStringLiteral("targetPosition"), target}});
}

HttpResponse BackendService::sliderVerify(const HttpRequest &request)
{
    const auto body = jsonBody(request);
    if (!body || !body->value(QStringLiteral("challengeId")).isString())
        return fieldRequired(QStringLiteral("challengeId"));
    if (!body->value(QStringLiteral("position")).isDouble())
        return fieldRequired(QStringLiteral("position"));
    // One attempt per challenge, whatever its outcome.
    const auto challenge = m_challenges.take(body->value(QStringLiteral("challengeId")).toString());
    const double position = body->value(QStringLiteral("position")).toDouble();
    if (challenge.expiresAt <= QDateTime::currentDateTimeUtc() ||
        std::abs(position - challenge.target) > m_sliderTolerance)
        return detail(400, QStringLiteral("滑块验证失败，请重试"));
    const QString token = randomHex(16);
    m_sliderTokens.insert(token, QDateTime::currentDateTimeUtc().addSecs(300));
    return json(200, QJsonObject{{QStringLiteral("sliderToken"), token}});
}

HttpResponse BackendService::me(const HttpRequest &request)
{
    if (const User *user = authorizedUser(request))
        return json(200, user->record);
    return detail(401, QStringLiteral("未登录或登录已过期"));
}

HttpResponse BackendService::aiCredentials(const HttpRequest &request)
{
    if (auto refusal = checkDeviceId(request))
        return *refusal;
    return json(200, QJsonObject{{QStringLiteral("apiKey"), m_apiKey},
                                 {QStringLiteral("asrModel"), QStringLiteral("fun-asr-realtime")},
                                 {QStringLiteral("llmModel"), QStringLiteral("qwen-plus")}});
}

HttpResponse BackendService::polish(const HttpRequest &request)
{
    if (auto refusal = checkDeviceId(request))
        return *refusal;
    const auto body = jsonBody(request);
    if (!body || !body->value(QStringLiteral("raw_text")).isString())
        return fieldRequired(QStringLiteral("raw_text"));
    return json(200, QJsonObject{{QStringLiteral("text"),
                                  TextCleanup::polish(body->value(QStringLiteral("raw_text")).toString())}});
}

HttpResponse BackendService::translate(const HttpRequest &request)
{
    if (auto refusal = checkDeviceId(request))
        return *refusal;
    const auto body = jsonBody(request);
    if (!body || !body->value(QStringLiteral("raw_text")).isString())
        return fieldRequired(QStringLiteral("raw_text"));
    if (!body->value(QStringLiteral("target_language")).isString())
        return fieldRequired(QStringLiteral("target_language"));
    return detail(501, QStringLiteral("本地服务无法离线翻译"));
}

HttpResponse BackendService::recognize(const HttpRequest &request)
{
    if (auto refusal = checkDeviceId(request))
        return *refusal;
    QString problem;
    const auto file = multipartFile(request, &problem);
    if (!file)
        return detail(400, problem);
    const auto pcm = wavPcm(*file, &problem);
    if (!pcm)
        return detail(400, problem);
    const RecognitionOutcome outcome = m_engine.recognize(*pcm);
    if (!outcome.ok) {
        const QString message = outcome.errorMessage.isEmpty() ? outcome.errorCode : outcome.errorMessage;
        return json(502,
                    QJsonObject{{QStringLiteral("error"), QJsonObject{{QStringLiteral("message"), message},
                                                                      {QStringLiteral("code"), outcome.errorCode}}}});
    }
    return json(200, QJsonObject{{QStringLiteral("text"), outcome.text}});
}

HttpResponse BackendService::usageEvents(const HttpRequest &request)
{
    if (!authorizedUser(request))
        return detail(401, QStringLiteral("未登录或登录已过期"));
    const auto body = jsonBody(request);
    if (!body)
        return fieldRequired(QStringLiteral("event_type"));
    if (!body->value(QStringLiteral("event_type")).isString())
        return fieldRequired(QStringLiteral("event_type"));
    for (const char *key : {"raw_text_length", "output_text_length", "speech_duration_ms"})
        if (!body->value(QLatin1String(key)).isDouble())
            return fieldRequired(QString::fromLatin1(key));
    m_usage.append(
        QJsonObject{{QStringLiteral("authorization"), QString::fromUtf8(request.headers.value("authorization"))},
                    {QStringLiteral("device_id"), QString::fromUtf8(request.headers.value("x-device-id"))},
                    {QStringLiteral("body"), *body}});
    return json(200, QJsonObject{{QStringLiteral("text"), QStringLiteral("ok")}});
}

HttpResponse BackendService::chatCompletions(const HttpRequest &request)
{
    if (request.headers.value("authorization") != "Bearer " + m_apiKey.toUtf8())
        return dashScopeError(401, QStringLiteral("Incorrect API key provided."), QStringLiteral("invalid_api_key"));
    const auto body = jsonBody(request);
    const QJsonArray messages = body ? body->value(QStringLiteral("messages")).toArray() : QJsonArray();
    if (!body || messages.isEmpty())
        return dashScopeError(400, QStringLiteral("messages must not be empty"),
                              QStringLiteral("invalid_parameter_error"));
    QString system;
    QString user;
    for (const QJsonValue &m : messages) {
        const QJsonObject message = m.toObject();
        const QString role = message.value(QStringLiteral("role")).toString();
        if (role == QLatin1String("system"))
            system = message.value(QStringLiteral("content")).toString();
        else if (role == QLatin1String("user"))
            user = message.value(QStringLiteral("content")).toString();
    }
    if (system.startsWith(QStringLiteral("请把用户的语音内容翻译成")))
        return dashScopeError(400, QStringLiteral("本地服务无法离线翻译"), QStringLiteral("invalid_parameter_error"));
    const QString content = TextCleanup::polish(user);
    const QJsonObject choice{
        {QStringLiteral("index"), 0},
        {QStringLiteral("message"),
         QJsonObject{{QStringLiteral("role"), QStringLiteral("assistant")}, {QStringLiteral("content"), content}}},
        {QStringLiteral("finish_reason"), QStringLiteral("stop")}};
    return json(200, QJsonObject{{QStringLiteral("id"), QStringLiteral("chatcmpl-") + randomHex(8)},
                                 {QStringLiteral("object"), QStringLiteral("chat.completion")},
                                 {QStringLiteral("created"), QDateTime::currentSecsSinceEpoch()},
                                 {QStringLiteral("model"), body->value(QStringLiteral("model")).toString()},
                                 {QStringLiteral("choices"), QJsonArray{choice}}});
}
