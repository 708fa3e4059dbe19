#pragma once

#include "base/VoxleTypes.h"

#include <QWidget>

class QButtonGroup;
class QPushButton;
class VoxlePreferences;

// The sidebar: logo and names, then one row per section (clicking a row selects the section), and "退出" at
// the bottom.
class VoxleSidebar : public QWidget
{
    Q_OBJECT
public:
    explicit VoxleSidebar(VoxlePreferences &preferences, QWidget *parent = nullptr);

    QPushButton *row(VoxleSection section) const;
    QPushButton *quitButton() const { return m_quit; }

signals:
    // The user asked to end the program (the way out where the desktop shows no tray).
    void quitRequested();

private:
    void refresh();

    VoxlePreferences &m_preferences;
    QButtonGroup *m_rows;
    QPushButton *m_quit;
};
