#include "app/main/VoxleRootView.h"

#include "app/main/VoxleSidebar.h"
#include "app/pages/VoxleAboutView.h"
#include "app/pages/VoxleAccountView.h"
#include "app/pages/VoxleAssistantView.h"
#include "app/pages/VoxleHistoryView.h"
#include "app/pages/VoxleHomeView.h"
#include "app/pages/VoxleSettingsView.h"
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
      m_settings(new VoxleSettingsView(services.state, services.defaults, services.settings, services.keyTranslators)),
      m_history(new VoxleHistoryView(services.state, services.history, services.pasteboard, services.clock)),
      m_assistant(new VoxleAssistantView), m_about(new VoxleAboutView)
{
    setupPages();
    setupConnections();
    showSelection();
}

void VoxleRootView::setupPages()
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_sidebar);
    layout->addWidget(m_detail, 1);
    const std::pair<VoxleSection, QWidget *> pages[] = {
        {VoxleSection::home, m_home},           {VoxleSection::account, m_account},
        {VoxleSection::settings, m_settings},   {VoxleSection::history, m_history},
        {VoxleSection::assistant, m_assistant}, {VoxleSection::about, m_about}};
    for (const auto &[section, page] : pages) {
        QScrollArea *area = scrolling(page, m_detail);
        m_detail->addWidget(area);
        m_areaFor.insert(section, area);
        m_pageIn.insert(area, page);
    }
}

void VoxleRootView::setupConnections()
{
    connect(&m_services.state.preferences(), &VoxlePreferences::selectionChanged, this, &VoxleRootView::showSelection);
    connect(&m_services.account, &VoxleAccount::isLoggedInChanged, this, [this] {
        if (!m_services.account.isLoggedIn())
            return;
        if (closeAuthWindow)
            closeAuthWindow();
        m_services.state.preferences().setSelection(VoxleSection::account);
    });
}

QWidget *VoxleRootView::currentPage() const
{
    return m_pageIn.value(m_detail->currentWidget());
}

void VoxleRootView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_services.state.refreshPermissionLabels();
}

void VoxleRootView::showSelection()
{
    m_detail->setCurrentWidget(m_areaFor.value(m_services.state.preferences().selection()));
}
