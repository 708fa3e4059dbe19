#pragma once

// Test doubles for the services the dictation controller drives. Each records what it was asked and answers
// what the test sets; answers that take time are OneShots the test resolves.

#include "asr/StreamingSession.h"
#include "audio/AudioCapture.h"
#include "base/Async.h"
#include "core/DictationCloud.h"
#include "core/DictationHistory.h"
#include "output/TextInjector.h"
#include "platform/MicrophoneAccess.h"

#include <QStringList>
#include <algorithm>
#include <deque>
#include <set>

class FakeAudioCapture final : public AudioCapture
{
public:
    QCoro::Task<> start(AudioCaptureSink s) override
    {
        ++starts;
        if (failNextStart) {
            failNextStart = false;
            throw CaptureError{QStringLiteral("no input device")};
        }
        sink = std::move(s);
        running = true;
        co_return;
    }
    // As the real capture: nothing is delivered after stop() returns.
    void stop() override
    {
        running = false;
        sink = {};
    }
    void setGain(double g) override { gain = g; }

    // Called from any thread, as the capture's processing thread would.
    void deliverPcm(const QByteArray &chunk)
    {
        if (running && sink.pcm16kMono)
            sink.pcm16kMono(chunk);
    }
    void deliverLevel(double level)
    {
        if (running && sink.levelAndBars)
            sink.levelAndBars(level, QVector<double>(18, level));
    }

    AudioCaptureSink sink;

    bool running = false;
    bool failNextStart = false;
    int starts = 0;
    double gain = 1.0;
};

class FakeStreamingSession final : public StreamingSession
{
public:
    explicit FakeStreamingSession(std::set<FakeStreamingSession *> &alive) : m_alive(alive) { m_alive.insert(this); }
    ~FakeStreamingSession() override { m_alive.erase(this); }

    QCoro::Task<> start() override
    {
        if (startImmediately)
            co_return;
        const std::optional<std::optional<StartError>> outcome = co_await startAnswer.wait(CancelToken());
        if (outcome && *outcome)
            throw **outcome;
    }
    void appendAudio(const QByteArray &chunk) override
    {
        if (!finalizing)
            audio << chunk;
    }
    void startSendingIfNeeded() override {}
    QCoro::Task<std::optional<QString>> finalize(qint64 timeoutMs) override
    {
        finalizing = true;
        finalizeTimeoutMs = timeoutMs;
        const std::optional<std::optional<QString>> text = co_await finalAnswer.wait(cancelToken);
        done = true;
        co_return text.value_or(std::nullopt);
    }
    void cancel() override
    {
        cancelled = true;
        cancelToken.cancel();
    }
    bool live() const { return !cancelled && !done; }

    bool startImmediately = true;
    OneShot<std::optional<StartError>> startAnswer;
    OneShot<std::optional<QString>> finalAnswer;
    CancelToken cancelToken;
    QList<QByteArray> audio;
    bool finalizing = false;
    bool done = false;
    bool cancelled = false;
    qint64 finalizeTimeoutMs = 0;

private:
    std::set<FakeStreamingSession *> &m_alive;
};

class FakeSessionFactory final : public StreamingSessionFactory
{
public:
    // The key and the model reach the service in the end-to-end test, whose stand-in refuses wrong ones.
    std::unique_ptr<StreamingSession> create(const QString &, const QString &, int,
                                             const std::optional<QStringList> &hints) override
    {
        auto session = std::make_unique<FakeStreamingSession>(alive);
        session->startImmediately = !holdStarts;
        lastHints = hints;
        sessions.push_back(session.get());
        return session;
    }
    // The newest session while the controller (or its finishing step) still holds it.
    FakeStreamingSession *last() const
    {
        return !sessions.empty() && alive.count(sessions.back()) ? sessions.back() : nullptr;
    }
    int liveSessions() const
    {
        return static_cast<int>(std::count_if(alive.begin(), alive.end(), [](auto *s) { return s->live(); }));
    }

    bool holdStarts = false;
    std::optional<QStringList> lastHints;
    std::vector<FakeStreamingSession *> sessions;
    std::set<FakeStreamingSession *> alive;
};

class FakeDictationCloud final : public DictationCloud
{
public:
    QCoro::Task<std::optional<QString>> ensureAiCredentials(CancelToken token) override
    {
        if (!holdCredentials)
            co_return credentialFailure;
        OneShot<std::optional<QString>> answer;
        pendingCredentials.push_back(answer);
        const auto result = co_await answer.wait(token);
        co_return result ? *result : std::optional<QString>(QStringLiteral("cancelled"));
    }
    QCoro::Task<ProxyResult> recognizeViaProxy(QByteArray pcm, CancelToken token) override
    {
        uploads << pcm;
        OneShot<ProxyResult> answer;
        pendingUploads.push_back(answer);
        const auto result = co_await answer.wait(token);
        co_return result.value_or(ProxyResult{std::nullopt, QStringLiteral("cancelled")});
    }
    QCoro::Task<std::optional<QString>> polishText(QString text, CancelToken token) override
    {
        return rewrite(text, token);
    }
    QCoro::Task<std::optional<QString>> translateText(QString text, TranslationTargetLanguage target,
                                                      CancelToken token) override
    {
        lastTarget = target;
        return rewrite(text, token);
    }
    QCoro::Task<std::optional<QString>> rewrite(QString text, CancelToken token)
    {
        rewriteRequests << text;
        OneShot<std::optional<QString>> answer;
        pendingRewrites.push_back(answer);
        const auto result = co_await answer.wait(token);
        co_return result.value_or(std::nullopt);
    }
    void reportUsageEvent(QString kind, QString modeLabel, QString rawText, QString outputText,
                          qint64 speechDurationMs) override
    {
        usage << QStringList{kind, modeLabel, rawText, outputText, QString::number(speechDurationMs)};
    }
    bool isLoggedIn() const override { return loggedIn; }

    bool holdCredentials = false;
    std::optional<QString> credentialFailure;
    std::deque<OneShot<std::optional<QString>>> pendingCredentials;
    QList<QByteArray> uploads;
    std::deque<OneShot<ProxyResult>> pendingUploads;
    QStringList rewriteRequests; // polish and translate, in call order, matching pendingRewrites
    TranslationTargetLanguage lastTarget = TranslationTargetLanguage::en;
    std::deque<OneShot<std::optional<QString>>> pendingRewrites;
    QList<QStringList> usage;
    bool loggedIn = false;
};

class FakeHistory final : public DictationHistory
{
public:
    void insert(VoxleHistoryEntry::Kind kind, const QString &rawText, const QString &outputText,
                const QDateTime &) override
    {
        // The store itself skips blank output.
        if (outputText.trimmed().isEmpty())
            return;
        rows << QStringList{rawValue(kind), rawText.trimmed(), outputText.trimmed()};
    }
    void applyRetention(VoxleHistoryRetention retention) override { retentions << rawValue(retention); }

    QList<QStringList> rows;
    QStringList retentions;
};

class FakeTextInjector final : public TextInjector
{
public:
    void injectAtCursor(const QString &text) override { injected << text; }
    void cancelInsertion() override { ++cancels; }
    QStringList injected;
    int cancels = 0;
};

class FakeMicrophone final : public MicrophoneAccess
{
public:
    Status status() const override { return current; }
    QCoro::Task<bool> requestAccess() override
    {
        ++requests;
        if (holdRequests) {
            OneShot<bool> answer;
            pendingRequests.push_back(answer);
            const std::optional<bool> answered = co_await answer.wait(CancelToken());
            const bool granted = answered.value_or(false);
            current = granted ? Status::authorized : Status::denied;
            co_return granted;
        }
        current = grantOnRequest ? Status::authorized : Status::denied;
        co_return grantOnRequest;
    }
    Status current = Status::authorized;
    bool grantOnRequest = true;
    bool holdRequests = false; // the system prompt stays up until the test answers it
    std::deque<OneShot<bool>> pendingRequests;
    int requests = 0;
};
