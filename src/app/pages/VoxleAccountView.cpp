#include "app/pages/VoxleAccountView.h"

#include "app/widgets/VoxleKeyValueRow.h"
#include "app/widgets/VoxlePageHeader.h"
#include "app/widgets/VoxleSectionCard.h"
#include "app/widgets/VoxleStyle.h"
#include "core/VoxleAccount.h"
#include "core/VoxleAppState.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

VoxleAccountView::VoxleAccountView(VoxleAppState &state, VoxleAccount &account, QWidget *parent)
    : QWidget(parent), m_state(state), m_account(account), m_status(new QLabel(this)),
      m_login(new QPushButton(QStringLiteral("登录"), this)),
      m_logout(new QPushButton(QStringLiteral("退出登录"), this)),
      m_refresh(new QPushButton(QStringLiteral("刷新"), this))
{
    auto *page = new QVBoxLayout(this);
    page->setSpacing(16);
    page->addWidget(new VoxlePageHeader(QStringLiteral("账户"), {}, this));

    page->addWidget(setupAccountCard());
    page->addStretch(1);
    setupConnections();
    refresh();
}

VoxleSectionCard *VoxleAccountView::setupAccountCard()
{
    auto *card = new VoxleSectionCard(QStringLiteral("账户信息"), this);
    for (const QString &key :
         {QStringLiteral("登录状态"), QStringLiteral("手机号"), QStringLiteral("设备 ID"), QStringLiteral("昵称")}) {
        auto *row = new VoxleKeyValueRow(key, {}, card);
        card->body()->addWidget(row);
        m_rows << row;
    }
    auto *buttons = new QHBoxLayout;
    VoxleStyle::makePrimary(m_login);
    VoxleStyle::makeSecondary(m_logout);
    VoxleStyle::makeSecondary(m_refresh);
    buttons->addWidget(m_login);
    buttons->addWidget(m_logout);
    buttons->addWidget(m_refresh);
    buttons->addStretch(1);
    card->body()->addLayout(buttons);
    m_status->setObjectName(QStringLiteral("voxleExplanation"));
    m_status->setWordWrap(true);
    card->body()->addWidget(m_status);
    return card;
}

void VoxleAccountView::setupConnections()
{
    connect(m_login, &QPushButton::clicked, this, [this] { m_account.presentAuthWindow(); });
    connect(m_logout, &QPushButton::clicked, this, &VoxleAccountView::signOut);
    connect(m_refresh, &QPushButton::clicked, this, [this] { refreshMe(); });
    connect(&m_account, &VoxleAccount::isLoggedInChanged, this, &VoxleAccountView::refresh);
    connect(&m_account, &VoxleAccount::authUserChanged, this, &VoxleAccountView::refresh);
}

QString VoxleAccountView::rowValue(const QString &key) const
{
    for (VoxleKeyValueRow *row : m_rows) {
        if (row->key() == key)
            return row->value();
    }
    return {};
}

QString VoxleAccountView::statusText() const
{
    return m_status->text();
}

void VoxleAccountView::refresh()
{
    const bool loggedIn = m_account.isLoggedIn();
    const auto &user = m_account.authUser();
    m_rows.at(0)->setValue(loggedIn ? QStringLiteral("已登录") : QStringLiteral("未登录"));
    m_rows.at(1)->setValue(user && user->phone ? *user->phone : QStringLiteral("—"));
    m_rows.at(2)->setValue(m_account.deviceIdentifier());
    const auto &shown = m_me ? m_me : user;
    m_rows.at(3)->setValue(shown && shown->displayName ? *shown->displayName : QStringLiteral("—"));
    m_login->setVisible(!loggedIn);
    m_logout->setVisible(loggedIn);
    m_refresh->setEnabled(!m_isRefreshing);
}

void VoxleAccountView::signOut()
{
    // A running dictation is abandoned before the credentials go.
    m_state.cancelRecording();
    m_account.logout();
    m_me.reset();
    m_state.preferences().setSelection(VoxleSection::account);
    refresh();
}

QCoro::Task<> VoxleAccountView::refreshMe()
{
    if (m_isRefreshing)
        co_return;
    m_isRefreshing = true;
    m_status->clear();
    refresh();
    const std::shared_ptr<bool> alive = m_alive;
    VoxleAccount *account = &m_account;
    std::optional<VoxleUserSummaryDto> me = co_await account->fetchMe();
    if (!*alive)
        co_return;
    m_isRefreshing = false;
    m_me = std::move(me);
    if (!m_me)
        m_status->setText(QStringLiteral("无法获取账户信息，请稍后重试。"));
    refresh();
    emit refreshed();
}
