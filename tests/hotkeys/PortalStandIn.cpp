#include "PortalStandIn.h"

#include <QDBusMessage>
#include <QDBusMetaType>

namespace {
const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
} // namespace

PortalStandIn::PortalStandIn(const QDBusConnection &bus) : m_bus(bus)
{
    qDBusRegisterMetaType<Shortcuts::value_type>();
    qDBusRegisterMetaType<Shortcuts>();
    m_bus.registerObject(kPath, this, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
    m_bus.registerService(kService);
}

PortalStandIn::~PortalStandIn()
{
    m_bus.unregisterService(kService);
    m_bus.unregisterObject(kPath);
}

QString PortalStandIn::objectPath(const QString &kind, const QVariantMap &options, const QString &tokenKey)
{
    const QString sender = message().service().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString token = options.value(tokenKey, QStringLiteral("t%1").arg(++m_serial)).toString();
    return kPath + QLatin1Char('/') + kind + QLatin1Char('/') + sender + QLatin1Char('/') + token;
}

QDBusObjectPath PortalStandIn::respond(const QString &requestPath, uint response, const QVariantMap &results)
{
    QDBusMessage signal = QDBusMessage::createTargetedSignal(
        message().service(), requestPath, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
    signal << response << results;
    // After the method's reply, as the backend's answer comes.
    QMetaObject::invokeMethod(
        this, [this, signal] { m_bus.send(signal); }, Qt::QueuedConnection);
    return QDBusObjectPath(requestPath);
}

QDBusObjectPath PortalStandIn::CreateSession(const QVariantMap &options)
{
    const QString session = objectPath(QStringLiteral("session"), options, QStringLiteral("session_handle_token"));
    m_owners.insert(session, message().service());
    // A string, as the real portal sends it.
    return respond(objectPath(QStringLiteral("request"), options, QStringLiteral("handle_token")), 0,
                   {{QStringLiteral("session_handle"), session}});
}

QDBusObjectPath PortalStandIn::BindShortcuts(const QDBusObjectPath &session, const Shortcuts &shortcuts,
                                             const QString &, const QVariantMap &options)
{
    bool described = true;
    for (const auto &[id, properties] : shortcuts) {
        if (id.isEmpty()) {
            sendErrorReply(QStringLiteral("org.freedesktop.portal.Error.InvalidArgument"),
                           QStringLiteral("Unexpected empty shortcut id"));
            return {};
        }
        described = described && !properties.value(QStringLiteral("description")).toString().isEmpty();
    }
    if (m_owners.value(session.path()) != message().service()) {
        sendErrorReply(QDBusError::AccessDenied, QStringLiteral("Invalid session"));
        return {};
    }
    const QString request = objectPath(QStringLiteral("request"), options, QStringLiteral("handle_token"));
    // A session binds once, and the desktop lists no shortcut without a description.
    if (m_bound.contains(session.path()) || !described || userDeclines)
        return respond(request, userDeclines ? 1 : 2, {});
    Shortcuts result;
    for (const auto &[id, properties] : shortcuts) {
        m_bound[session.path()] << id;
        bound.insert(id, properties);
        const QString trigger = properties.value(QStringLiteral("preferred_trigger")).toString();
        result.append({id,
                       {{QStringLiteral("description"), properties.value(QStringLiteral("description")).toString()},
                        {QStringLiteral("trigger_description"), trigger}}});
    }
    return respond(request, 0,
                   listsBound ? QVariantMap{{QStringLiteral("shortcuts"), QVariant::fromValue(result)}}
                              : QVariantMap());
}

bool PortalStandIn::emitShortcut(const QString &name, const QString &id)
{
    for (auto it = m_bound.cbegin(); it != m_bound.cend(); ++it) {
        if (!it->contains(id))
            continue;
        QDBusMessage signal = QDBusMessage::createTargetedSignal(
            m_owners.value(it.key()), kPath, QStringLiteral("org.freedesktop.portal.GlobalShortcuts"), name);
        signal << QVariant::fromValue(QDBusObjectPath(it.key())) << id << qulonglong(++m_serial) << QVariantMap();
        return m_bus.send(signal);
    }
    return false;
}
