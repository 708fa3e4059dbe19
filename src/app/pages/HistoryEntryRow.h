#pragma once

#include "history/VoxleHistoryEntry.h"

#include <QDateTime>
#include <QWidget>
#include <functional>

class QPushButton;

// One history row: kind, time, text, and the copy and delete buttons.
class HistoryEntryRow : public QWidget
{
    Q_OBJECT
public:
    HistoryEntryRow(const VoxleHistoryEntry &entry, const QDateTime &now, std::function<void()> onCopy,
                    std::function<void()> onDelete, QWidget *parent = nullptr);

    // "语音", "润色" or "翻译".
    static QString kindLabel(VoxleHistoryEntry::Kind kind);
    // "今天 HH:mm", "昨天 HH:mm" or the date with the time, in local time relative to now.
    static QString timeLabel(const QDateTime &createdAt, const QDateTime &now);

    const VoxleHistoryEntry &entry() const { return m_entry; }
    QPushButton *copyButton() const { return m_copy; }
    QPushButton *deleteButton() const { return m_delete; }

private:
    VoxleHistoryEntry m_entry;
    QPushButton *m_copy;
    QPushButton *m_delete;
};
