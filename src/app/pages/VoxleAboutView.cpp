#include "app/pages/VoxleAboutView.h"

#include "app/widgets/VoxleKeyValueRow.h"
#include "app/widgets/VoxlePageHeader.h"
#include "app/widgets/VoxleSectionCard.h"

#include <QLabel>
#include <QVBoxLayout>

VoxleAboutView::VoxleAboutView(QWidget *parent) : QWidget(parent)
{
    auto *page = new QVBoxLayout(this);
    page->setSpacing(16);
    page->addWidget(new VoxlePageHeader(QStringLiteral("关于"), {}, this));
    page->addWidget(new QLabel(QStringLiteral("Voxle Linux 版"), this));
    auto *card = new VoxleSectionCard(QStringLiteral("信息"), this);
    card->body()->addWidget(new VoxleKeyValueRow(QStringLiteral("版本"), version, card));
    page->addWidget(card);
    page->addStretch(1);
}
