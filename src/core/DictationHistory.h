#pragma once

#include "history/VoxleHistoryEntry.h"
#include "history/VoxleHistoryRetention.h"

#include <QDateTime>
#include <QString>

// Where finished dictations are recorded; the history store behind it skips rows with blank output.
class DictationHistory
{
public:
    virtual ~DictationHistory() = default;
    // Fire-and-forget.
    virtual void insert(VoxleHistoryEntry::Kind kind, const QString &rawText, const QString &outputText,
                        const QDateTime &date) = 0;
    // Fire-and-forget.
    virtual void applyRetention(VoxleHistoryRetention retention) = 0;
};
