#pragma once

#include <QWidget>

// Assistant: a placeholder for the coming conversation view.
class VoxleAssistantView : public QWidget
{
    Q_OBJECT
public:
    explicit VoxleAssistantView(QWidget *parent = nullptr);
};
