#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QObject>
#include <QVariantMap>

// The desktop portal's GlobalShortcuts interface as xdg-desktop-portal publishes it (version 1), served as
// org.freedesktop.portal.Desktop on a connection of its own. As strict as the real one: an empty id is an
// error, a session serves only the connection that created it and binds once, each answer is a Response
// signal on the Request path the handle token names, sent after the method's reply, and shortcut signals go
// only to the session's owner, only for ids it bound.
class PortalStandIn : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.GlobalShortcuts")
    Q_PROPERTY(uint version READ version)
public:
    using Shortcuts = QList<QPair<QString, QVariantMap>>;

    explicit PortalStandIn(const QDBusConnection &bus);
    ~PortalStandIn() override;

    uint version() const { return 1; }
    bool listsBound = true;            // false: a bind's answer leaves out the list, as Plasma's dialog does
    bool userDeclines = false;         // the user turns the desktop's question down (response 1)
    QHash<QString, QVariantMap> bound; // what binds asked for, by id
    // The user presses or releases the key of `id`; false when no session bound it.
    bool press(const QString &id) { return emitShortcut(QStringLiteral("Activated"), id); }
    bool release(const QString &id) { return emitShortcut(QStringLiteral("Deactivated"), id); }

public slots:
    QDBusObjectPath CreateSession(const QVariantMap &options);
    QDBusObjectPath BindShortcuts(const QDBusObjectPath &session, const QList<QPair<QString, QVariantMap>> &shortcuts,
                                  const QString &parentWindow, const QVariantMap &options);

private:
    QString objectPath(const QString &kind, const QVariantMap &options, const QString &tokenKey);
    QDBusObjectPath respond(const QString &requestPath, uint response, const QVariantMap &results);
    bool emitShortcut(const QString &name, const QString &id);

    QDBusConnection m_bus;
    QHash<QString, QString> m_owners;    // session -> the connection that created it
    QHash<QString, QStringList> m_bound; // session -> its ids, once bound
    int m_serial = 0;
};
