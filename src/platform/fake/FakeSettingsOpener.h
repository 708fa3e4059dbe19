#pragma once

#include "platform/SettingsOpener.h"

#include <QList>

// Records the panes asked for.
class FakeSettingsOpener final : public SettingsOpener
{
public:
    void open(Pane pane) override;
    QList<Pane> opened;
};
