#include "core/VoxleHistoryRecorder.h"

#include "history/VoxleHistoryStore.h"

void VoxleHistoryRecorder::insert(const QString &kind, const QString &rawText, const QString &outputText,
                                  const QDateTime &date)
{
    if (const auto parsed = parseHistoryKind(kind))
        m_store.insert(*parsed, rawText, outputText, date);
}

void VoxleHistoryRecorder::applyRetention(const QString &retention)
{
    if (const auto parsed = parseHistoryRetention(retention))
        m_store.applyRetention(*parsed); // fire-and-forget: the task runs to its end on its own
}
