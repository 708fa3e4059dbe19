#pragma once

#include "core/DictationHistory.h"

class VoxleHistoryStore;

// The controller's history seam over the real SQLite store.
class VoxleHistoryRecorder final : public DictationHistory
{
public:
    explicit VoxleHistoryRecorder(VoxleHistoryStore &store) : m_store(store) {}

    void insert(VoxleHistoryEntry::Kind kind, const QString &rawText, const QString &outputText,
                const QDateTime &date) override;
    void applyRetention(VoxleHistoryRetention retention) override;

private:
    VoxleHistoryStore &m_store;
};
