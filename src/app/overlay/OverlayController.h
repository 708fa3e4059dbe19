#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <memory>

class PillOverlayView;
class QWidget;
class VoxleAppState;

// Owns the floating overlay panel and follows the state's overlay: `hidden` hides the panel, anything else
// shows it (creating it on the first such value), centred 24 px above the bottom of the primary screen's
// available area, without taking the keyboard focus from the application the user is typing into.
class OverlayController : public QObject
{
    Q_OBJECT
public:
    static constexpr QSize panelSize{640, 64};
    static constexpr int bottomMargin = 24;

    explicit OverlayController(VoxleAppState &state, QObject *parent = nullptr);
    ~OverlayController() override;

    // Subscribes to the state's overlay; later values are handled as they arrive.
    void start();
    // Where the desktop owns the hotkeys (Wayland), the pill's hint names its shortcut instead of Fn.
    void setDesktopShortcuts(bool desktopShortcuts);

    // The panel once created (never before the first visible value).
    QWidget *panel() const { return m_panel.get(); }
    PillOverlayView *pillView() const { return m_pill; }
    int panelCreations() const { return m_panelCreations; }

    // Top-left corner of the panel inside a screen's available area.
    static QPoint placement(const QRect &available, QSize panel = panelSize);

private:
    void handleOverlay();
    void createPanel();
    void placePanel();

    VoxleAppState &m_state;
    bool m_started = false;
    std::unique_ptr<QWidget> m_panel;
    PillOverlayView *m_pill = nullptr;
    bool m_desktopShortcuts = false;
    int m_panelCreations = 0;
};
