#include "app/overlay/OverlayController.h"

#include "app/overlay/PillOverlayView.h"
#include "core/VoxleAppState.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

OverlayController::OverlayController(VoxleAppState &state, QObject *parent) : QObject(parent), m_state(state) {}

OverlayController::~OverlayController() = default;

void OverlayController::start()
{
    if (m_started)
        return;
    m_started = true;
    connect(&m_state, &VoxleAppState::overlayChanged, this, &OverlayController::handleOverlay);
}

QPoint OverlayController::placement(const QRect &available, QSize panel)
{
    // Screen coordinates grow downwards: the panel's bottom edge sits 24 px above the available bottom.
    const int x = available.x() + (available.width() - panel.width()) / 2;
    const int y = available.y() + available.height() - bottomMargin - panel.height();
    return {x, y};
}

void OverlayController::handleOverlay()
{
    if (m_state.overlay().kind == OverlayState::Kind::hidden) {
        if (m_panel)
            m_panel->hide();
        return;
    }
    if (!m_panel)
        createPanel();
    placePanel();
    m_panel->show();
    m_panel->raise();
}

void OverlayController::setDesktopShortcuts(bool desktopShortcuts)
{
    m_desktopShortcuts = desktopShortcuts;
    if (m_pill)
        m_pill->setDesktopShortcuts(desktopShortcuts);
}

void OverlayController::createPanel()
{
    // A tool window outside the window manager's focus handling: it floats above everything, is never
    // activated by showing or clicking, and cannot be dragged.
    m_panel = std::make_unique<QWidget>(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                                     Qt::WindowDoesNotAcceptFocus | Qt::X11BypassWindowManagerHint |
                                                     Qt::NoDropShadowWindowHint);
    m_panel->setObjectName(QStringLiteral("voxleOverlayPanel"));
    m_panel->setAttribute(Qt::WA_ShowWithoutActivating);
    m_panel->setAttribute(Qt::WA_TranslucentBackground);
    m_panel->setAttribute(Qt::WA_X11DoNotAcceptFocus);
    m_panel->setFocusPolicy(Qt::NoFocus);
    m_panel->setFixedSize(panelSize);
    auto *layout = new QVBoxLayout(m_panel.get());
    layout->setContentsMargins(0, 0, 0, 0);
    m_pill = new PillOverlayView(m_state, m_panel.get());
    m_pill->setDesktopShortcuts(m_desktopShortcuts);
    layout->addWidget(m_pill);
    ++m_panelCreations;
}

void OverlayController::placePanel()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen && !QGuiApplication::screens().isEmpty())
        screen = QGuiApplication::screens().constFirst();
    if (!screen)
        return;
    m_panel->move(placement(screen->availableGeometry()));
}
