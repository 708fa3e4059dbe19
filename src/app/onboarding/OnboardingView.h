#pragma once

#include "app/DesktopFacts.h"

#include "base/Clock.h"

#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;
class QVBoxLayout;
class SettingsOpener;
class VoxleAppState;

// The five-step permission guide: welcome, microphone, input monitoring, accessibility, done. Each permission
// step requests it or opens the desktop's settings, and the guide moves on by itself once input monitoring or
// accessibility is granted (checked every second while the view is shown).
class OnboardingView : public QWidget
{
    Q_OBJECT
public:
    static constexpr qint64 pollIntervalMs = 1000;

    // What the permissions mean on the desktop the program runs on.
    using Desktop = DesktopFacts;

    OnboardingView(VoxleAppState &state, SettingsOpener &settings, Clock &clock, std::function<void()> onComplete,
                   QWidget *parent = nullptr);
    OnboardingView(VoxleAppState &state, SettingsOpener &settings, Clock &clock, std::function<void()> onComplete,
                   Desktop desktop, QWidget *parent = nullptr);
    ~OnboardingView() override;

    // The desktop changed what it offers (its shortcuts portal answered): the step shown says so.
    void setDesktop(const Desktop &desktop);
    int step() const { return m_step; }
    QString titleText() const;
    QString explanationText() const;
    // The texts of the buttons currently shown, in order.
    QStringList buttonTexts() const;
    // Presses the shown button with this text; false when there is none.
    bool press(const QString &text);
    bool showsGrantedBadge() const;
    bool isPolling() const { return m_pollTimer != 0; }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void setupTexts();
    void setupBadge();
    void setupLayout();
    void goTo(int step);
    void rebuild();
    void addButton(const QString &text, int width, std::function<void()> action);
    void addBadge(const QString &text);
    void requestMicrophone();
    void schedulePoll();
    void poll();

    VoxleAppState &m_state;
    SettingsOpener &m_settings;
    Clock &m_clock;
    std::function<void()> m_onComplete;
    Desktop m_desktop;
    int m_step = 1;
    Clock::TimerId m_pollTimer = 0;

    QLabel *m_icon;
    QLabel *m_title;
    QLabel *m_explanation;
    QWidget *m_badge;
    QLabel *m_badgeText = nullptr;
    QVBoxLayout *m_buttons;
    QList<QPushButton *> m_shownButtons;
    QList<int> m_shown; // what the step was last built from
};
