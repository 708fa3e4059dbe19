#pragma once

#include "app/VoxleViewServices.h"
#include "base/VoxleTypes.h"

#include <QHash>
#include <QWidget>
#include <functional>

class QStackedWidget;
class VoxleAboutView;
class VoxleAccountView;
class VoxleAssistantView;
class VoxleHistoryView;
class VoxleHomeView;
class VoxleSettingsView;
class VoxleSidebar;

// The main window's content: the sidebar and the page of the selected section.
class VoxleRootView : public QWidget
{
    Q_OBJECT
public:
    explicit VoxleRootView(VoxleViewServices services, QWidget *parent = nullptr);

    // Closes the sign-in window when the user has signed in (set by the application).
    std::function<void()> closeAuthWindow;

    VoxleSidebar *sidebar() const { return m_sidebar; }
    // The page shown for the current selection.
    QWidget *currentPage() const;
    VoxleHomeView *homeView() const { return m_home; }
    VoxleAccountView *accountView() const { return m_account; }
    VoxleSettingsView *settingsView() const { return m_settings; }
    VoxleAboutView *aboutView() const { return m_about; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void setupPages();
    void setupConnections();
    void showSelection();

    VoxleViewServices m_services;
    VoxleSidebar *m_sidebar;
    QStackedWidget *m_detail;
    VoxleHomeView *m_home;
    VoxleAccountView *m_account;
    VoxleSettingsView *m_settings;
    VoxleHistoryView *m_history;
    VoxleAssistantView *m_assistant;
    VoxleAboutView *m_about;
    QHash<VoxleSection, QWidget *> m_areaFor; // the scroll area holding each section's page
    QHash<QWidget *, QWidget *> m_pageIn;     // the page inside each scroll area
};
