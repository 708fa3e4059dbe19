#include "app/onboarding/OnboardingWindow.h"

#include "app/onboarding/OnboardingView.h"
#include "app/widgets/VoxleStyle.h"

#include <QVBoxLayout>

OnboardingWindow::OnboardingWindow(VoxleAppState &state, SettingsOpener &settings, Clock &clock,
                                   OnboardingView::Desktop desktop, QWidget *parent)
    : QWidget(parent, Qt::Window), m_view(nullptr)
{
    setWindowTitle(QStringLiteral("欢迎使用言川 Voxle"));
    setPalette(VoxleStyle::darkPalette());
    setStyleSheet(VoxleStyle::windowStyleSheet());
    setFixedSize(600, 450);
    m_view = new OnboardingView(
        state, settings, clock,
        [this] {
            close();
            emit completed();
        },
        desktop);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
}
