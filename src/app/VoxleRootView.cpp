#include "app/VoxleRootView.h"

#include "app/VoxleAboutView.h"
#include "app/VoxleAccountView.h"
#include "app/VoxleAssistantView.h"
#include "app/VoxleHistoryView.h"
#include "app/VoxleHomeView.h"
#include "app/VoxleSettingsView.h"
#include "app/VoxleSidebar.h"
#include "core/VoxleAccount.h"
#include "core/VoxleAppState.h"

#include <QHBoxLayout>
#include <QScrollArea>
#include <QStackedWidget>

namespace {
QScrollArea *scrolling(QWidget *page, QWidget *parent)
{
    auto *area = new QScrollArea(parent);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    page->setContentsMargins(28, 24, 28, 24);
    area->setWidget(page);
    return area;
}
} // namespace

VoxleRootView::VoxleRootView(VoxleViewServices services, QWidget *parent)
    : QWidget(parent), m_services(services), m_sidebar(new VoxleSidebar(services.state.preferences(), this)),
      m_detail(new QStackedWidget(this)), m_home(new VoxleHomeView(services.state, services.settings)),
      m_account(new VoxleAccountView(services.state, services.account)),
      m_settings(new VoxleSettingsView(services.state, services.defaults, services.settings)),
      m_history(new VoxleHistoryView(services.state, services.history, services.pasteboard, services.clock)),
      m_assistant(new VoxleAssistantView), m_about(new VoxleAboutView)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_sidebar);
    layout->addWidget(m_detail, 1);
    for (QWidget *page :
         {static_cast<QWidget *>(m_home), static_cast<QWidget *>(m_account), static_cast<QWidget *>(m_settings),
          static_cast<QWidget *>(m_history), static_cast<QWidget *>(m_assistant), static_cast<QWidget *>(m_about)}) {
        m_detail->addWidget(scrolling(page, m_detail));
        m_pages << page;
    }

    connect(&services.state.preferences(), &VoxlePreferences::selectionChanged, this, &VoxleRootView::showSelection);
    connect(&services.account, &VoxleAccount::isLoggedInChanged, this, [this] {
        if (!m_services.account.isLoggedIn())
            return;
        if (closeAuthWindow)
            closeAuthWindow();
        m_services.state.preferences().setSelection(VoxleSection::account);
    });
    showSelection();
}

QWidget *VoxleRootView::currentPage() const
{
    return m_pages.value(m_detail->currentIndex());
}

void VoxleRootView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_services.state.refreshPermissionLabels();
}

void VoxleRootView::showSelection()
{
    m_detail->setCurrentIndex(static_cast<int>(allSections().indexOf(m_services.state.preferences().selection())));
}
