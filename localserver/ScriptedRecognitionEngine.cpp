#include "ScriptedRecognitionEngine.h"

#include "ScriptedRecognitionStream.h"

std::unique_ptr<RecognitionStream> ScriptedRecognitionEngine::openStream(int)
{
    return std::make_unique<ScriptedRecognitionStream>(m_script);
}

RecognitionOutcome ScriptedRecognitionEngine::recognize(const QByteArray &)
{
    RecognitionOutcome outcome;
    const QJsonObject fail = m_script.value(QStringLiteral("fail")).toObject();
    if (!fail.isEmpty()) {
        outcome.ok = false;
        outcome.errorCode = fail.value(QStringLiteral("code")).toString();
        outcome.errorMessage = fail.value(QStringLiteral("message")).toString();
        return outcome;
    }
    QStringList parts;
    for (const QJsonValue &v : m_script.value(QStringLiteral("sentences")).toArray())
        parts << v.toString();
    for (const QJsonValue &v : m_script.value(QStringLiteral("events")).toArray()) {
        if (v.toObject().value(QStringLiteral("sentence_end")).toBool())
            parts << v.toObject().value(QStringLiteral("text")).toString();
    }
    parts.removeAll(QString());
    outcome.text = parts.join(QString());
    return outcome;
}
