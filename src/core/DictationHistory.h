#pragma once

#include <QDateTime>
#include <QString>

// Where finished dictations are recorded; the history store behind it skips rows with blank output.
class DictationHistory
{
public:
    virtual ~DictationHistory() = default;
    // `kind` is "record", "polish" or "translate". Fire-and-forget.
    virtual void insert(const QString &kind, const QString &rawText, const QString &outputText,
                        const QDateTime &date) = 0;
    // `retention` is the retention's raw value. Fire-and-forget.
    virtual void applyRetention(const QString &retention) = 0;
};
