#include "app/widgets/VoxleSectionCard.h"

#include <QLabel>
#include <QVBoxLayout>

VoxleSectionCard::VoxleSectionCard(const QString &title, QWidget *parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("voxleCard"));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(16, 14, 16, 14);
    outer->setSpacing(10);
    auto *titleLabel = new QLabel(title, this);
    titleLabel->setObjectName(QStringLiteral("voxleCardTitle"));
    outer->addWidget(titleLabel);
    m_body = new QVBoxLayout;
    m_body->setSpacing(8);
    outer->addLayout(m_body);
}
