#include "core/VoxleHistoryRecorder.h"

#include "history/VoxleHistoryStore.h"

void VoxleHistoryRecorder::insert(VoxleHistoryEntry::Kind kind, const QString &rawText, const QString &outputText,
                                  const QDateTime &date)
{
    m_store.insert(kind, rawText, outputText, date);
}

void VoxleHistoryRecorder::applyRetention(VoxleHistoryRetention retention)
{
    m_store.applyRetention(retention); // fire-and-forget: the task runs to its end on its own
}
