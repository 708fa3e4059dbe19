#pragma once

#include "app/onboarding/OnboardingView.h"

#include <QWidget>

class Clock;
class SettingsOpener;
class VoxleAppState;

// The 600 × 450 window around the onboarding guide; "完成" closes it and reports completion.
class OnboardingWindow : public QWidget
{
    Q_OBJECT
public:
    OnboardingWindow(VoxleAppState &state, SettingsOpener &settings, Clock &clock, OnboardingView::Desktop desktop = {},
                     QWidget *parent = nullptr);

    OnboardingView *view() const { return m_view; }

signals:
    // The guide was finished (not emitted when the window is merely closed).
    void completed();

private:
    OnboardingView *m_view;
};
