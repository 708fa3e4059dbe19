#include "app/widgets/VoxleStyle.h"

#include <QColor>
#include <QPushButton>
#include <QStyle>

QPalette VoxleStyle::darkPalette()
{
    QPalette p;
    const QColor window(0x1e, 0x1e, 0x20);
    const QColor base(0x26, 0x26, 0x29);
    const QColor text(0xec, 0xec, 0xee);
    const QColor dim(0x8e, 0x8e, 0x93);
    const QColor accent(0x0a, 0x84, 0xff);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, base);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, dim);
    p.setColor(QPalette::Highlight, accent);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, accent);
    p.setColor(QPalette::BrightText, Qt::white);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, dim);
    return p;
}

QString VoxleStyle::windowStyleSheet()
{
    return QStringLiteral(R"(
QMainWindow, QWidget#voxleOnboarding { background: #1e1e20; }
QWidget { color: #ececee; }
QScrollArea, QScrollArea > QWidget > QWidget { background: #1e1e20; border: none; }
QComboBox { background: #2c2c2f; border: 1px solid #4a4a4d; border-radius: 6px; padding: 4px 8px; }
QComboBox QAbstractItemView { background: #2c2c2f; selection-background-color: #0a84ff; }
QWidget#voxleSidebar { background: #18181a; }
QLabel#voxlePageTitle { font-size: 24px; font-weight: 700; }
QLabel#voxlePageSubtitle { color: #8e8e93; font-size: 14px; }
QFrame#voxleCard { background: #262629; border: 1px solid #3a3a3d; border-radius: 12px; }
QLabel#voxleCardTitle { font-size: 15px; font-weight: 600; }
QLabel#voxleRowKey { color: #8e8e93; }
QLabel#voxleExplanation { color: #a1a1a6; }
QPushButton[voxleRole="primary"] { background: #0a84ff; color: white; border: none; border-radius: 6px;
  padding: 6px 14px; }
QPushButton[voxleRole="primary"]:disabled { background: #3a3a3d; color: #8e8e93; }
QPushButton[voxleRole="secondary"] { background: transparent; color: #ececee; border: 1px solid #4a4a4d;
  border-radius: 6px; padding: 5px 12px; }
QPushButton[voxleRole="secondary"]:checked { background: #3a3a3d; }
QPushButton#voxleSidebarRow { text-align: left; border: none; padding: 8px 12px; border-radius: 6px; }
QPushButton#voxleSidebarRow:checked { background: #2c2c2f; }
)");
}

namespace {
void setRole(QPushButton *button, const char *role)
{
    button->setProperty("voxleRole", QString::fromLatin1(role));
    button->style()->unpolish(button);
    button->style()->polish(button);
}
} // namespace

void VoxleStyle::makePrimary(QPushButton *button)
{
    setRole(button, "primary");
}

void VoxleStyle::makeSecondary(QPushButton *button)
{
    setRole(button, "secondary");
}
