#pragma once

#include <QColor>
#include <QString>

class QPushButton;

// The looks of the sign-in window's buttons: the login button (VoxleAuthPrimaryButtonStyle) and the send-code
// button (VoxleSendCodeButtonStyle), which dims itself while disabled.
QColor authAccentColor();
void applyVoxleAuthPrimaryButtonStyle(QPushButton *button);
void applyVoxleSendCodeButtonStyle(QPushButton *button);
