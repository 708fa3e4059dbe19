#pragma once

#include "core/DictationHistory.h"

class VoxleHistoryStore;

// The controller's history seam over the real SQLite store.
class VoxleHistoryRecorder final : public DictationHistory
{
public:
    explicit VoxleHistoryRecorder(VoxleHistoryStore &store) : m_store(store) {}

    void insert(const QString &kind, const QString &rawText, const QString &outputText, const QDateTime &date) override;
    void applyRetention(const QString &retention) override;

private:
    VoxleHistoryStore &m_store;
};
