#pragma once

#include "app/VoxleViewServices.h"

#include <QMainWindow>

class VoxleRootView;

// The main window: the root view with its sidebar and pages, the title, and the size rule that holds the
// height at 760 px.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    static constexpr int minimumWidth = 980;
    static constexpr int fixedHeight = 760;
    static constexpr int defaultWidth = 1120;

    explicit MainWindow(VoxleViewServices services, QWidget *parent = nullptr);

    static QString title();

    VoxleRootView *rootView() const { return m_root; }

    // Minimum 980 × 760, maximum unbounded × 760; a window narrower than 900 or lower than 640 gets 1120 × 760
    // (centred when allowed), any other keeps its width at a height of 760.
    static void applySizeRule(QWidget &window, bool allowCentring);

signals:
    // The window's content was painted for the first time (start-up is over for the user).
    void firstPainted();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    VoxleRootView *m_root;
    bool m_painted = false;
};
