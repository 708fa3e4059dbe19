#include "app/pages/VoxleAssistantView.h"

#include "app/widgets/VoxlePageHeader.h"
#include "app/widgets/VoxleSectionCard.h"

#include <QLabel>
#include <QVBoxLayout>

VoxleAssistantView::VoxleAssistantView(QWidget *parent) : QWidget(parent)
{
    auto *page = new QVBoxLayout(this);
    page->setSpacing(16);
    page->addWidget(new VoxlePageHeader(QStringLiteral("助手"), QStringLiteral("对话"), this));
    auto *card = new VoxleSectionCard(QStringLiteral("语音问答与指令（UI 占位）"), this);
    auto *text = new QLabel(QStringLiteral("这里后续会做成对话列表 + 输入框，支持多轮对话与指令。"), card);
    text->setObjectName(QStringLiteral("voxleExplanation"));
    text->setWordWrap(true);
    card->body()->addWidget(text);
    page->addWidget(card);
    page->addStretch(1);
}
