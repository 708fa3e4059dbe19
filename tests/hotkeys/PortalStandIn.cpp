#include "PortalStandIn.h"

#include <QDBusMessage>
#include <QDBusMetaType>

namespace {
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInvalidArgument = QStringLiteral("org.freedesktop.portal.Error.InvalidArgument");
} // namespace

PortalStandIn::PortalStandIn(const QDBusConnection &bus) : m_bus(bus)
{
    qDBusRegisterMetaType<Shortcuts::value_type>();
    qDBusRegisterMetaType<Shortcuts>();
    m_bus.registerObject(kPath, this, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
    m_bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
}

PortalStandIn::~PortalStandIn()
{
    m_bus.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
    m_bus.unregisterObject(kPath);
}

bool PortalStandIn::invalid(const QVariantMap &options, const QStringList &keys)
{
    // Unknown keys are dropped; a known one must be a string.
    for (const QString &key : keys) {
        if (options.contains(key) && options.value(key).metaType() != QMetaType::fromType<QString>()) {
            sendErrorReply(kInvalidArgument, QStringLiteral("Invalid type for option '%1'").arg(key));
            return true;
        }
    }
    return false;
}

QString PortalStandIn::objectPath(const QString &kind, const QVariantMap &options, const QString &tokenKey)
{
    const QString sender = message().service().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString token = options.value(tokenKey, QStringLiteral("t%1").arg(++m_serial)).toString();
    return kPath + QLatin1Char('/') + kind + QLatin1Char('/') + sender + QLatin1Char('/') + token;
}

void PortalStandIn::respond(const QString &requestPath, uint response, const QVariantMap &results)
{
    QDBusMessage signal = QDBusMessage::createTargetedSignal(
        message().service(), requestPath, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
    signal << response << results;
    // The answer follows the method's reply, as the backend's does.
    QMetaObject::invokeMethod(
        this, [this, signal] { m_bus.send(signal); }, Qt::QueuedConnection);
}

QDBusObjectPath PortalStandIn::CreateSession(const QVariantMap &options)
{
    if (invalid(options, {QStringLiteral("handle_token"), QStringLiteral("session_handle_token")}))
        return {};
    const QString request = objectPath(QStringLiteral("request"), options, QStringLiteral("handle_token"));
    const QString session = objectPath(QStringLiteral("session"), options, QStringLiteral("session_handle_token"));
    m_sessions.insert(session, Session{message().service(), false, {}});
    // Sent as a string, as the real portal does.
    respond(request, 0, {{QStringLiteral("session_handle"), session}});
    return QDBusObjectPath(request);
}

QDBusObjectPath PortalStandIn::BindShortcuts(const QDBusObjectPath &session, const Shortcuts &shortcuts,
                                             const QString &, const QVariantMap &options)
{
    if (invalid(options, {QStringLiteral("handle_token")}))
        return {};
    for (const auto &[id, properties] : shortcuts) {
        if (id.isEmpty()) {
            sendErrorReply(kInvalidArgument, QStringLiteral("Unexpected empty shortcut id"));
            return {};
        }
        if (invalid(properties, {QStringLiteral("description"), QStringLiteral("preferred_trigger")}))
            return {};
    }
    auto it = m_sessions.find(session.path());
    if (it == m_sessions.end() || it->owner != message().service()) {
        sendErrorReply(QDBusError::AccessDenied, QStringLiteral("Invalid session"));
        return {};
    }
    const QString request = objectPath(QStringLiteral("request"), options, QStringLiteral("handle_token"));
    // A session binds once, and the desktop cannot list a shortcut without a description.
    const bool described = std::all_of(shortcuts.begin(), shortcuts.end(),
                                       [](const auto &s) { return s.second.contains(QStringLiteral("description")); });
    if (std::exchange(it->bindAsked, true) || !described) {
        respond(request, 2, {});
        return QDBusObjectPath(request);
    }
    Shortcuts result;
    for (const auto &[id, properties] : shortcuts) {
        it->ids << id;
        bound.insert(id, properties);
        result.append({id,
                       {{QStringLiteral("description"), properties.value(QStringLiteral("description")).toString()},
                        {QStringLiteral("trigger_description"),
                         properties.value(QStringLiteral("preferred_trigger")).toString()}}});
    }
    respond(request, 0, {{QStringLiteral("shortcuts"), QVariant::fromValue(result)}});
    return QDBusObjectPath(request);
}

bool PortalStandIn::emitShortcut(const QString &name, const QString &id)
{
    for (auto it = m_sessions.cbegin(); it != m_sessions.cend(); ++it) {
        if (!it->ids.contains(id))
            continue;
        QDBusMessage signal = QDBusMessage::createTargetedSignal(
            it->owner, kPath, QStringLiteral("org.freedesktop.portal.GlobalShortcuts"), name);
        signal << QVariant::fromValue(QDBusObjectPath(it.key())) << id << qulonglong(m_serial++) << QVariantMap();
        return m_bus.send(signal);
    }
    return false;
}
