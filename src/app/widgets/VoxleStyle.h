#pragma once

#include <QPalette>
#include <QString>

class QPushButton;
class QWidget;

// The application's dark look: a dark palette whatever the desktop theme, and the style sheet of the main
// window's cards, rows and buttons.
namespace VoxleStyle {
QPalette darkPalette();
// Style sheet for the main window and the onboarding window.
QString windowStyleSheet();
// Marks a button as the page's primary (filled) or secondary (outlined) action.
void makePrimary(QPushButton *button);
void makeSecondary(QPushButton *button);
} // namespace VoxleStyle
