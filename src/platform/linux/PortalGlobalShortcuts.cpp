#include "platform/linux/PortalGlobalShortcuts.h"

#include "base/Logging.h"

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace {
const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const char *const kResponseSlot = SLOT(onResponse(uint, QVariantMap, QDBusMessage));
// The probe starts the portal when it is not running yet; a missing one answers at once.
constexpr int kProbeTimeoutMs = 10000;

// The portal's a(sa{sv}): shortcut id and its properties.
using PortalShortcutList = QList<QPair<QString, QVariantMap>>;

// Session handles are object paths, though some answers carry them as strings.
QString pathText(const QVariant &value)
{
    return value.metaType() == QMetaType::fromType<QDBusObjectPath>() ? value.value<QDBusObjectPath>().path()
                                                                      : value.toString();
}
} // namespace

PortalGlobalShortcuts::PortalGlobalShortcuts(const QDBusConnection &bus, QObject *parent)
    : GlobalShortcuts(parent), m_bus(bus)
{
    qDBusRegisterMetaType<PortalShortcutList::value_type>();
    qDBusRegisterMetaType<PortalShortcutList>();
    for (const QString &name : {QStringLiteral("Activated"), QStringLiteral("Deactivated")})
        m_bus.connect(kService, kPath, kInterface, name, this, SLOT(onShortcutSignal(QDBusMessage)));
    // A portal that went away has forgotten our session, and one that came late was not asked: ask (and so
    // start) the portal again.
    auto *watcher = new QDBusServiceWatcher(kService, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString &, const QString &, const QString &owner) {
                if (status() != Status::bound && (status() != Status::unavailable || owner.isEmpty()))
                    return;
                m_session.clear();
                setStatus(Status::idle);
                bind(m_shortcuts);
            });
}

void PortalGlobalShortcuts::bind(const QList<Shortcut> &shortcuts)
{
    if (status() != Status::idle)
        return;
    m_shortcuts = shortcuts;
    setStatus(Status::binding);
    if (!m_bus.isConnected()) {
        fail(Status::unavailable, QStringLiteral("no session bus"));
        return;
    }
    // Where no backend offers the shortcuts (GNOME 43), the portal exports no such interface at all.
    QDBusMessage probe = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    probe << kInterface << QStringLiteral("version");
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(probe, kProbeTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *w;
        if (reply.isError()) {
            fail(Status::unavailable, reply.error().message());
            return;
        }
        qCDebug(lcGlobalShortcuts) << "portal version" << reply.value().variant().toUInt();
        createSession();
    });
}

void PortalGlobalShortcuts::createSession()
{
    const QString token = nextToken();
    const QVariantMap options{{QStringLiteral("handle_token"), token}, {QStringLiteral("session_handle_token"), token}};
    request(QStringLiteral("CreateSession"), {}, options, [this](uint response, const QVariantMap &results) {
        m_session = pathText(results.value(QStringLiteral("session_handle")));
        if (response != 0 || m_session.isEmpty()) {
            fail(Status::failed, QStringLiteral("no session (response %1)").arg(response));
            return;
        }
        bindShortcuts();
    });
}

void PortalGlobalShortcuts::bindShortcuts()
{
    PortalShortcutList list;
    for (const Shortcut &s : std::as_const(m_shortcuts)) {
        QVariantMap properties{{QStringLiteral("description"), s.description}};
        if (!s.preferredTrigger.isEmpty())
            properties.insert(QStringLiteral("preferred_trigger"), s.preferredTrigger);
        list.append({s.id, properties});
    }
    const QVariantList args{QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(list), QString()};
    request(QStringLiteral("BindShortcuts"), args, {{QStringLiteral("handle_token"), nextToken()}},
            [this](uint response, const QVariantMap &results) {
                if (response != 0) {
                    // 1: the user declined in the desktop's dialog.
                    fail(Status::failed, QStringLiteral("shortcuts not bound (response %1)").arg(response));
                    return;
                }
                QHash<QString, QString> triggers;
                // Plasma answers a bind made through its dialog without the list: then every id asked for is bound.
                if (!results.contains(QStringLiteral("shortcuts"))) {
                    for (const Shortcut &s : std::as_const(m_shortcuts))
                        triggers.insert(s.id, QString());
                }
                const auto bound = qdbus_cast<PortalShortcutList>(results.value(QStringLiteral("shortcuts")));
                for (const auto &[id, properties] : bound)
                    triggers.insert(id, properties.value(QStringLiteral("trigger_description")).toString());
                qCInfo(lcGlobalShortcuts) << "bound" << triggers;
                setStatus(Status::bound, triggers);
            });
}

void PortalGlobalShortcuts::request(const QString &method, const QVariantList &leadingArgs, const QVariantMap &options,
                                    Answer answer)
{
    const QString sender = m_bus.baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString predicted = kPath + QStringLiteral("/request/") + sender + QLatin1Char('/') +
                              options.value(QStringLiteral("handle_token")).toString();
    m_requests.insert(predicted, std::move(answer));
    m_bus.connect(kService, predicted, kRequestInterface, QStringLiteral("Response"), this, kResponseSlot);
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    call.setArguments(QVariantList(leadingArgs) << options);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, method, predicted](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        // Every portal with this interface honours the handle token: the answer comes where it was awaited.
        if (w->isError()) {
            unwatchRequest(predicted);
            fail(Status::failed, method + QStringLiteral(": ") + w->error().message());
        }
    });
}

void PortalGlobalShortcuts::unwatchRequest(const QString &path)
{
    if (m_requests.remove(path) > 0)
        m_bus.disconnect(kService, path, kRequestInterface, QStringLiteral("Response"), this, kResponseSlot);
}

void PortalGlobalShortcuts::onResponse(uint response, const QVariantMap &results, const QDBusMessage &message)
{
    const Answer answer = m_requests.value(message.path());
    unwatchRequest(message.path());
    if (answer)
        answer(response, results);
}

void PortalGlobalShortcuts::onShortcutSignal(const QDBusMessage &message)
{
    // (o session_handle, s shortcut_id, t timestamp, a{sv} options)
    const QVariantList args = message.arguments();
    if (args.size() < 2 || status() != Status::bound || pathText(args.at(0)) != m_session)
        return;
    const QString id = args.at(1).toString();
    if (!triggers().contains(id))
        return;
    if (message.member() == QStringLiteral("Activated"))
        emit activated(id);
    else
        emit deactivated(id);
}

void PortalGlobalShortcuts::fail(Status status, const QString &why)
{
    // No portal is the usual case on GNOME: worth a line only when asked for.
    if (status == Status::unavailable)
        qCInfo(lcGlobalShortcuts) << "no GlobalShortcuts portal:" << why;
    else
        qCWarning(lcGlobalShortcuts) << "GlobalShortcuts portal:" << why;
    setStatus(status);
}

QString PortalGlobalShortcuts::nextToken()
{
    return QStringLiteral("voxle%1").arg(++m_tokens);
}
