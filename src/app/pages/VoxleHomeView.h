#pragma once

#include "app/DesktopFacts.h"

#include <QWidget>

class QLabel;
class QPushButton;
class SettingsOpener;
class VoxleAppState;
class VoxleKeyValueRow;
class VoxleSectionCard;

// Home: the dictation status and permission labels, the record button, quick links, and the default hotkeys.
class VoxleHomeView : public QWidget
{
    Q_OBJECT
public:
    VoxleHomeView(VoxleAppState &state, SettingsOpener &settings, QWidget *parent = nullptr);

    // The line describing the configured hotkeys.
    QString defaultHotkeyLine() const;
    // The value shown in the status card's row with this key.
    QString rowValue(const QString &key) const;
    QPushButton *recordButton() const { return m_record; }
    // Says what works on this desktop, and on Wayland how to get hotkeys.
    void setDesktop(const DesktopFacts &desktop);
    QString desktopLine() const;

private:
    struct PermissionRow {
        VoxleKeyValueRow *row;
        QPushButton *request;
        QPushButton *openSettings;
    };
    VoxleSectionCard *setupStatus();
    VoxleSectionCard *setupQuickActions();
    void setupConnections();
    void refresh();
    PermissionRow addPermissionRow(QWidget *card, const QString &key);

    VoxleAppState &m_state;
    SettingsOpener &m_settings;
    QList<VoxleKeyValueRow *> m_rows;
    PermissionRow m_mic{};
    PermissionRow m_input{};
    PermissionRow m_access{};
    QPushButton *m_record = nullptr;
    QLabel *m_hotkeyLine = nullptr;
    QLabel *m_desktopLine = nullptr;
    QPushButton *m_copyCommands = nullptr;
    QString m_commands;
};
