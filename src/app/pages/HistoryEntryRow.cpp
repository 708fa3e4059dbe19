#include "app/pages/HistoryEntryRow.h"

#include "app/widgets/VoxleStyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

HistoryEntryRow::HistoryEntryRow(const VoxleHistoryEntry &entry, const QDateTime &now, std::function<void()> onCopy,
                                 std::function<void()> onDelete, QWidget *parent)
    : QWidget(parent), m_entry(entry), m_copy(new QPushButton(QStringLiteral("复制"), this)),
      m_delete(new QPushButton(QStringLiteral("删除"), this))
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 6, 0, 6);
    auto *column = new QVBoxLayout;
    column->setSpacing(4);
    auto *meta = new QLabel(kindLabel(entry.kind) + QStringLiteral(" · ") + timeLabel(entry.createdAt, now), this);
    meta->setObjectName(QStringLiteral("voxleRowKey"));
    auto *text = new QLabel(entry.outputText, this);
    text->setWordWrap(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(meta);
    column->addWidget(text);
    row->addLayout(column, 1);
    for (QPushButton *button : {m_copy, m_delete}) {
        VoxleStyle::makeSecondary(button);
        row->addWidget(button, 0, Qt::AlignTop);
    }
    connect(m_copy, &QPushButton::clicked, this, [onCopy = std::move(onCopy)] { onCopy(); });
    connect(m_delete, &QPushButton::clicked, this, [onDelete = std::move(onDelete)] { onDelete(); });
}

QString HistoryEntryRow::kindLabel(VoxleHistoryEntry::Kind kind)
{
    switch (kind) {
    case VoxleHistoryEntry::Kind::record:
        return QStringLiteral("语音");
    case VoxleHistoryEntry::Kind::polish:
        return QStringLiteral("润色");
    case VoxleHistoryEntry::Kind::translate:
        return QStringLiteral("翻译");
    }
    return {};
}

QString HistoryEntryRow::timeLabel(const QDateTime &createdAt, const QDateTime &now)
{
    const QDateTime local = createdAt.toLocalTime();
    const QDate today = now.toLocalTime().date();
    const QString time = local.toString(QStringLiteral("HH:mm"));
    if (local.date() == today)
        return QStringLiteral("今天 ") + time;
    if (local.date() == today.addDays(-1))
        return QStringLiteral("昨天 ") + time;
    return local.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}
