#pragma once

#include "platform/GlobalShortcuts.h"

#include <QDBusConnection>
#include <QHash>
#include <QVariantMap>
#include <functional>

class QDBusMessage;

// The desktop's shortcuts through the GlobalShortcuts portal (org.freedesktop.portal.GlobalShortcuts, offered
// by KDE Plasma; GNOME 43 has none). Every call is asynchronous: a probe of the interface's version, a
// session, then one bind whose answer may wait for the user.
class PortalGlobalShortcuts final : public GlobalShortcuts
{
    Q_OBJECT
public:
    explicit PortalGlobalShortcuts(const QDBusConnection &bus = QDBusConnection::sessionBus(),
                                   QObject *parent = nullptr);

    void bind(const QList<Shortcut> &shortcuts) override;

private slots:
    void onResponse(uint response, const QVariantMap &results, const QDBusMessage &message);
    // Activated and Deactivated: (o session_handle, s shortcut_id, t timestamp, a{sv} options).
    void onShortcutSignal(const QDBusMessage &message);

private:
    using Answer = std::function<void(uint response, const QVariantMap &results)>;

    void createSession();
    void bindShortcuts();
    // Calls a portal method that answers through a Request object: its path is predicted from our unique
    // name and the handle token, and watched before the call goes out, so no Response can be missed.
    void request(const QString &method, const QVariantList &leadingArgs, const QVariantMap &options, Answer answer);
    void unwatchRequest(const QString &path);
    void fail(Status status, const QString &why);
    QString nextToken();

    QDBusConnection m_bus;
    QList<Shortcut> m_shortcuts;
    QString m_session;
    QHash<QString, Answer> m_requests;
    int m_tokens = 0;
};
