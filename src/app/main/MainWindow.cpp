#include "app/main/MainWindow.h"

#include "app/main/VoxleRootView.h"
#include "app/widgets/VoxleStyle.h"

#include <QEvent>
#include <QPointer>
#include <QScreen>
#include <QTimer>

MainWindow::MainWindow(VoxleViewServices services, QWidget *parent)
    : QMainWindow(parent), m_root(new VoxleRootView(services, this))
{
    setCentralWidget(m_root);
    setPalette(VoxleStyle::darkPalette());
    setStyleSheet(VoxleStyle::windowStyleSheet());
    setWindowTitle(title());
    resize(defaultWidth, fixedHeight);
    m_root->installEventFilter(this);
}

QString MainWindow::title()
{
    return QStringLiteral("言川 Voxle");
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_painted && watched == m_root && event->type() == QEvent::Paint) {
        m_painted = true;
        // Reported once this paint has reached the screen.
        QTimer::singleShot(0, this, &MainWindow::firstPainted);
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::applySizeRule(QWidget &window, bool allowCentring)
{
    // Measured before the limits are set: Qt enlarges a window below its new minimum at once.
    const QSize frame = window.frameGeometry().size();
    window.setMinimumSize(minimumWidth, fixedHeight);
    window.setMaximumSize(QWIDGETSIZE_MAX, fixedHeight);
    if (frame.width() < 900 || frame.height() < 640) {
        window.resize(defaultWidth, fixedHeight);
        if (allowCentring) {
            if (QScreen *screen = window.screen()) {
                QRect centred = window.frameGeometry();
                centred.moveCenter(screen->availableGeometry().center());
                window.move(centred.topLeft());
            }
        }
    } else if (frame.height() != fixedHeight) {
        window.resize(window.width(), fixedHeight);
    }
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // After the window is on screen, as the system would report its restored frame.
    QTimer::singleShot(0, this, [self = QPointer<MainWindow>(this)] {
        if (!self)
            return;
        self->setWindowTitle(title());
        applySizeRule(*self, true);
    });
}
