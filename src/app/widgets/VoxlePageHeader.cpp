#include "app/widgets/VoxlePageHeader.h"

#include <QLabel>
#include <QVBoxLayout>

VoxlePageHeader::VoxlePageHeader(const QString &title, const QString &subtitle, QWidget *parent)
    : QWidget(parent), m_title(new QLabel(title, this)), m_subtitle(new QLabel(subtitle, this))
{
    m_title->setObjectName(QStringLiteral("voxlePageTitle"));
    m_subtitle->setObjectName(QStringLiteral("voxlePageSubtitle"));
    m_subtitle->setVisible(!subtitle.isEmpty());
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 8);
    layout->setSpacing(4);
    layout->addWidget(m_title);
    layout->addWidget(m_subtitle);
}
