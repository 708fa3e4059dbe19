#include "app/main/VoxleSidebar.h"

#include "core/VoxlePreferences.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
// Plain symbols in place of the system's icon font.
QString symbol(VoxleSection section)
{
    switch (section) {
    case VoxleSection::home:
        return QStringLiteral("⌂");
    case VoxleSection::account:
        return QStringLiteral("◯");
    case VoxleSection::settings:
        return QStringLiteral("⚙");
    case VoxleSection::history:
        return QStringLiteral("◷");
    case VoxleSection::assistant:
        return QStringLiteral("✦");
    case VoxleSection::about:
        return QStringLiteral("ⓘ");
    }
    return {};
}

// The symbols differ in width: drawn into one square each, the labels beside them line up.
QIcon symbolIcon(const QString &symbol, const QFont &font)
{
    constexpr int side = 18;
    QPixmap pixmap(side * 2, side * 2);
    pixmap.setDevicePixelRatio(2);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(QColor(235, 235, 245));
    painter.setFont(font);
    painter.drawText(QRect(0, 0, side, side), Qt::AlignCenter, symbol);
    painter.end();
    return QIcon(pixmap);
}
} // namespace

VoxleSidebar::VoxleSidebar(VoxlePreferences &preferences, QWidget *parent)
    : QWidget(parent), m_preferences(preferences), m_rows(new QButtonGroup(this)),
      m_quit(new QPushButton(QStringLiteral("退出"), this))
{
    setObjectName(QStringLiteral("voxleSidebar"));
    setAttribute(Qt::WA_StyledBackground);
    setFixedWidth(200);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(12, 16, 12, 16);
    column->setSpacing(4);

    auto *header = new QHBoxLayout;
    auto *logo = new QLabel(QStringLiteral("言"), this);
    logo->setAlignment(Qt::AlignCenter);
    logo->setFixedSize(32, 32);
    logo->setStyleSheet(QStringLiteral("background: #0a84ff; color: white; border-radius: 8px; font-weight: 700;"));
    auto *names = new QVBoxLayout;
    names->setSpacing(0);
    auto *name = new QLabel(QStringLiteral("言川"), this);
    name->setStyleSheet(QStringLiteral("font-weight: 700; font-size: 15px;"));
    auto *latin = new QLabel(QStringLiteral("Voxle"), this);
    latin->setObjectName(QStringLiteral("voxleRowKey"));
    names->addWidget(name);
    names->addWidget(latin);
    header->addWidget(logo);
    header->addLayout(names, 1);
    column->addLayout(header);
    column->addSpacing(12);

    m_rows->setExclusive(true);
    for (VoxleSection section : allSections()) {
        auto *row = new QPushButton(label(section), this);
        row->setIcon(symbolIcon(symbol(section), font()));
        row->setIconSize(QSize(18, 18));
        row->setObjectName(QStringLiteral("voxleSidebarRow"));
        row->setCheckable(true);
        row->setFocusPolicy(Qt::NoFocus);
        m_rows->addButton(row, static_cast<int>(section));
        column->addWidget(row);
    }
    column->addStretch(1);
    m_quit->setObjectName(QStringLiteral("voxleSidebarRow"));
    m_quit->setIcon(symbolIcon(QStringLiteral("✕"), font()));
    m_quit->setIconSize(QSize(18, 18));
    m_quit->setFocusPolicy(Qt::NoFocus);
    m_quit->setToolTip(QStringLiteral("退出言川 Voxle"));
    column->addWidget(m_quit);

    connect(m_quit, &QPushButton::clicked, this, &VoxleSidebar::quitRequested);
    connect(m_rows, &QButtonGroup::idClicked, this,
            [this](int id) { m_preferences.setSelection(static_cast<VoxleSection>(id)); });
    connect(&m_preferences, &VoxlePreferences::selectionChanged, this, &VoxleSidebar::refresh);
    refresh();
}

QPushButton *VoxleSidebar::row(VoxleSection section) const
{
    return qobject_cast<QPushButton *>(m_rows->button(static_cast<int>(section)));
}

void VoxleSidebar::refresh()
{
    for (VoxleSection section : allSections()) {
        QPushButton *button = row(section);
        const bool selected = section == m_preferences.selection();
        button->setChecked(selected);
        QFont font = button->font();
        font.setWeight(selected ? QFont::DemiBold : QFont::Normal);
        button->setFont(font);
    }
}
