#include "app/auth/AuthButtonStyles.h"

#include <QLabel>
#include <QPushButton>

QColor authAccentColor()
{
    return QColor(10, 132, 255);
}

void applyVoxleAuthPrimaryButtonStyle(QPushButton *button)
{
    button->setMinimumHeight(40);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QStringLiteral(
        "QPushButton { background-color: #0A84FF; color: white; border: none; border-radius: 10px;"
        " font-size: 15px; font-weight: 600; padding: 8px 16px; }"
        "QPushButton:hover { background-color: #2A94FF; }"
        "QPushButton:pressed { background-color: #0070E0; }"
        "QPushButton:disabled { background-color: rgba(10, 132, 255, 0.45); color: rgba(255, 255, 255, 0.6); }"));
}

void applyVoxleSendCodeButtonStyle(QPushButton *button)
{
    button->setMinimumHeight(34);
    button->setMinimumWidth(110);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QStringLiteral(
        "QPushButton { background-color: rgba(10, 132, 255, 0.18); color: #4DA3FF; border: 1px solid"
        " rgba(10, 132, 255, 0.5); border-radius: 8px; font-size: 13px; padding: 6px 12px; }"
        "QPushButton:hover { background-color: rgba(10, 132, 255, 0.28); }"
        "QPushButton:disabled { background-color: rgba(128, 128, 128, 0.12); color: rgba(128, 128, 128, 0.9);"
        " border-color: rgba(128, 128, 128, 0.3); }"));
}

void applyAuthSecondaryText(QLabel *label)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
    label->setPalette(palette);
}
