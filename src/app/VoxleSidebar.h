#pragma once

#include "base/VoxleTypes.h"

#include <QWidget>

class QButtonGroup;
class QPushButton;
class VoxlePreferences;

// The sidebar: logo and names, then one row per section; clicking a row selects the section.
class VoxleSidebar : public QWidget
{
    Q_OBJECT
public:
    explicit VoxleSidebar(VoxlePreferences &preferences, QWidget *parent = nullptr);

    QPushButton *row(VoxleSection section) const;

private:
    void refresh();

    VoxlePreferences &m_preferences;
    QButtonGroup *m_rows;
};
