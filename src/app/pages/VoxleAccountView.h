#pragma once

#include "net/VoxleWireRecords.h"

#include <QCoro/QCoroTask>
#include <QWidget>
#include <optional>

class QLabel;
class QPushButton;
class VoxleAccount;
class VoxleAppState;
class VoxleKeyValueRow;
class VoxleSectionCard;

// Account: sign-in state, phone and device id; sign in, sign out, refresh the user record.
class VoxleAccountView : public QWidget
{
    Q_OBJECT
public:
    VoxleAccountView(VoxleAppState &state, VoxleAccount &account, QWidget *parent = nullptr);
    ~VoxleAccountView() override { *m_alive = false; }

    QString rowValue(const QString &key) const;
    QString statusText() const;
    bool isRefreshing() const { return m_isRefreshing; }
    const std::optional<VoxleUserSummaryDto> &me() const { return m_me; }
    QPushButton *loginButton() const { return m_login; }
    QPushButton *logoutButton() const { return m_logout; }
    QPushButton *refreshButton() const { return m_refresh; }

signals:
    // A refresh finished (with or without a record).
    void refreshed();

private:
    VoxleSectionCard *setupAccountCard();
    void setupConnections();
    void refresh();
    void signOut();
    QCoro::Task<> refreshMe();

    VoxleAppState &m_state;
    VoxleAccount &m_account;
    QList<VoxleKeyValueRow *> m_rows;
    QLabel *m_status;
    QPushButton *m_login;
    QPushButton *m_logout;
    QPushButton *m_refresh;
    std::optional<VoxleUserSummaryDto> m_me;
    bool m_isRefreshing = false;
    // Shared with running refreshes, so one that outlives the page does not touch it.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
