#include "app/widgets/VoxleKeyValueRow.h"

#include <QHBoxLayout>
#include <QLabel>

VoxleKeyValueRow::VoxleKeyValueRow(const QString &key, const QString &value, QWidget *parent)
    : QWidget(parent), m_key(new QLabel(key, this)), m_value(new QLabel(value, this)), m_layout(new QHBoxLayout(this))
{
    m_key->setObjectName(QStringLiteral("voxleRowKey"));
    m_key->setMinimumWidth(120);
    m_value->setTextFormat(Qt::PlainText); // values include server messages
    m_value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_value->setWordWrap(true);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(12);
    m_layout->addWidget(m_key);
    m_layout->addWidget(m_value, 1);
}

QString VoxleKeyValueRow::key() const
{
    return m_key->text();
}

QString VoxleKeyValueRow::value() const
{
    return m_value->text();
}

void VoxleKeyValueRow::setValue(const QString &value)
{
    m_value->setText(value);
}

void VoxleKeyValueRow::addTrailing(QWidget *widget)
{
    m_layout->addWidget(widget);
}
