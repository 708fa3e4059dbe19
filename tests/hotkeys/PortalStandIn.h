#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QObject>
#include <QVariantMap>

// The desktop portal's GlobalShortcuts interface as xdg-desktop-portal publishes it (version 1), served as
// org.freedesktop.portal.Desktop on its own connection. As strict as the real one: options of the wrong type
// and empty ids are refused, a session serves only the connection that created it, every answer is a
// Response signal on the Request path the handle token names, sent after the method's reply, and shortcut
// signals go only to the session's owner for ids it bound.
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
    // What the last successful bind asked for, by id.
    QHash<QString, QVariantMap> bound;
    // The user presses or releases the key of `id`; false when no session bound it.
    bool press(const QString &id) { return emitShortcut(QStringLiteral("Activated"), id); }
    bool release(const QString &id) { return emitShortcut(QStringLiteral("Deactivated"), id); }

public slots:
    QDBusObjectPath CreateSession(const QVariantMap &options);
    QDBusObjectPath BindShortcuts(const QDBusObjectPath &session, const QList<QPair<QString, QVariantMap>> &shortcuts,
                                  const QString &parentWindow, const QVariantMap &options);

private:
    struct Session {
        QString owner;
        bool bindAsked = false;
        QStringList ids;
    };
    bool invalid(const QVariantMap &options, const QStringList &keys);
    QString objectPath(const QString &kind, const QVariantMap &options, const QString &tokenKey);
    void respond(const QString &requestPath, uint response, const QVariantMap &results);
    bool emitShortcut(const QString &name, const QString &id);

    QDBusConnection m_bus;
    QHash<QString, Session> m_sessions;
    int m_serial = 0;
};
