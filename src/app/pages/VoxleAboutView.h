#pragma once

#include <QWidget>

// About: product name and version.
class VoxleAboutView : public QWidget
{
    Q_OBJECT
public:
    static inline const QString version = QStringLiteral("1.0.0");

    explicit VoxleAboutView(QWidget *parent = nullptr);
};
