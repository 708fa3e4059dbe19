#include "history/VoxleHistoryEntry.h"

size_t qHash(const VoxleHistoryEntry &entry, size_t seed)
{
    return qHashMulti(seed, entry.id, entry.createdAt, static_cast<int>(entry.kind), entry.rawText, entry.outputText);
}

QString rawValue(VoxleHistoryEntry::Kind kind)
{
    switch (kind) {
    case VoxleHistoryEntry::Kind::record:
        return QStringLiteral("record");
    case VoxleHistoryEntry::Kind::polish:
        return QStringLiteral("polish");
    case VoxleHistoryEntry::Kind::translate:
        return QStringLiteral("translate");
    }
    return {};
}

std::optional<VoxleHistoryEntry::Kind> parseHistoryKind(const QString &raw)
{
    for (const VoxleHistoryEntry::Kind kind : allHistoryKinds()) {
        if (rawValue(kind) == raw)
            return kind;
    }
    return std::nullopt;
}

QList<VoxleHistoryEntry::Kind> allHistoryKinds()
{
    return {VoxleHistoryEntry::Kind::record, VoxleHistoryEntry::Kind::polish, VoxleHistoryEntry::Kind::translate};
}
