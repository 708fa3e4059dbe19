#pragma once

#include "base/CancelToken.h"
#include "base/VoxleTypes.h"

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QString>
#include <optional>

// What the dictation controller and its finishing step need of the account, the backend and the language
// model. Every await ends early when its token is cancelled (the reply is aborted).
class DictationCloud
{
public:
    struct ProxyResult {
        std::optional<QString> text; // the recognised text, or nothing on failure
        QString failure;             // userMessage(error) when the upload failed
    };

    virtual ~DictationCloud() = default;

    // Makes sure a DashScope API key is in the keychain. Nothing on success, else the message to show.
    virtual QCoro::Task<std::optional<QString>> ensureAiCredentials(CancelToken token) = 0;
    // Uploads 16 kHz mono PCM16 as WAV to the backend's speech recognition.
    virtual QCoro::Task<ProxyResult> recognizeViaProxy(QByteArray pcm, CancelToken token) = 0;
    // The rewritten text, or nothing on any failure.
    virtual QCoro::Task<std::optional<QString>> polishText(QString text, CancelToken token) = 0;
    virtual QCoro::Task<std::optional<QString>> translateText(QString text, TranslationTargetLanguage target,
                                                              CancelToken token) = 0;
    // Fire-and-forget usage report; sends nothing when signed out. `kind` is the history kind's raw value,
    // `modeLabel` the label of the active dictation mode.
    virtual void reportUsageEvent(QString kind, QString modeLabel, QString rawText, QString outputText,
                                  qint64 speechDurationMs) = 0;
    virtual bool isLoggedIn() const = 0;
};
