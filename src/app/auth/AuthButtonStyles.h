#pragma once

#include <QColor>

class QLabel;
class QPushButton;

// The looks of the sign-in window's buttons: the login button (VoxleAuthPrimaryButtonStyle) and the send-code
// button (VoxleSendCodeButtonStyle), which dims itself while disabled.
QColor authAccentColor();
void applyVoxleAuthPrimaryButtonStyle(QPushButton *button);
void applyVoxleSendCodeButtonStyle(QPushButton *button);
// Secondary text (notes, hints) in the palette's muted colour, readable on dark and light windows.
void applyAuthSecondaryText(QLabel *label);
