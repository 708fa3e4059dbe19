#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

// One stored dictation result.
struct VoxleHistoryEntry {
    // Which dictation mode produced the row; stored by its raw value.
    enum class Kind { record, polish, translate };

    qint64 id = 0;       // SQLite rowid, never reused
    QDateTime createdAt; // UTC, to the second
    Kind kind = Kind::record;
    QString rawText;    // recognised text, trimmed
    QString outputText; // inserted text, trimmed

    bool operator==(const VoxleHistoryEntry &other) const
    {
        return id == other.id && createdAt == other.createdAt && kind == other.kind && rawText == other.rawText &&
               outputText == other.outputText;
    }
};

size_t qHash(const VoxleHistoryEntry &entry, size_t seed = 0);

// "record", "polish", "translate".
QString rawValue(VoxleHistoryEntry::Kind kind);
// Exact match of a raw value; anything else is no kind.
std::optional<VoxleHistoryEntry::Kind> parseHistoryKind(const QString &raw);
QList<VoxleHistoryEntry::Kind> allHistoryKinds();
