#include "platform/linux/RemoteDesktopKeyboard.h"

#include "base/Logging.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QFile>
#include <QLoggingCategory>
#include <QSaveFile>

namespace {
Q_LOGGING_CATEGORY(lcRemoteDesktop, "app.voxle.desktop.RemoteDesktop", defaultLogThreshold())

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
constexpr uint kKeyboard = 1;
// Keep the permission until the user takes it back.
constexpr uint kPersistUntilRevoked = 2;

QString pathOf(const QVariant &value)
{
    // Some portals answer an object path, some a string.
    return value.canConvert<QDBusObjectPath>() ? value.value<QDBusObjectPath>().path() : value.toString();
}
} // namespace

RemoteDesktopKeyboard::RemoteDesktopKeyboard(QDBusConnection bus, QString tokenFile)
    : m_bus(std::move(bus)), m_tokenFile(std::move(tokenFile))
{
}

void RemoteDesktopKeyboard::probe()
{
    QDBusMessage get = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kInterface << QStringLiteral("AvailableDeviceTypes");
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(get), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *w;
        if (m_state != State::unknown)
            return;
        const bool keyboard = !reply.isError() && (reply.value().variant().toUInt() & kKeyboard);
        m_state = keyboard ? State::available : State::unavailable;
        qCDebug(lcRemoteDesktop) << "keyboard offered:" << keyboard;
    });
}

void RemoteDesktopKeyboard::start()
{
    if (m_state == State::starting || m_state == State::running)
        return;
    m_state = State::starting;
    request(QStringLiteral("CreateSession"), {},
            {{QStringLiteral("session_handle_token"), QStringLiteral("voxle%1").arg(m_nextToken)}},
            [this](uint response, const QVariantMap &results) {
                m_session = pathOf(results.value(QStringLiteral("session_handle")));
                if (response != 0 || m_session.isEmpty())
                    return fail(QStringLiteral("no session"));
                m_bus.connect(kService, m_session, QStringLiteral("org.freedesktop.portal.Session"),
                              QStringLiteral("Closed"), this, SLOT(onSessionClosed()));
                QVariantMap options{{QStringLiteral("types"), kKeyboard},
                                    {QStringLiteral("persist_mode"), kPersistUntilRevoked}};
                QFile token(m_tokenFile);
                if (!m_tokenFile.isEmpty() && token.open(QIODevice::ReadOnly))
                    options.insert(QStringLiteral("restore_token"), QString::fromUtf8(token.readAll().trimmed()));
                request(QStringLiteral("SelectDevices"), {QVariant::fromValue(QDBusObjectPath(m_session))}, options,
                        [this](uint response, const QVariantMap &) {
                            if (response != 0)
                                return fail(QStringLiteral("no keyboard selected"));
                            request(
                                QStringLiteral("Start"), {QVariant::fromValue(QDBusObjectPath(m_session)), QString()},
                                {}, [this](uint response, const QVariantMap &results) {
                                    // Not asked again until the next launch: a refusal is an answer.
                                    if (response != 0 ||
                                        !(results.value(QStringLiteral("devices")).toUInt() & kKeyboard))
                                        return fail(QStringLiteral("the user did not allow the keyboard"),
                                                    State::unavailable);
                                    // A new token each start: the old one is used up.
                                    const QString token = results.value(QStringLiteral("restore_token")).toString();
                                    QSaveFile file(m_tokenFile);
                                    if (!token.isEmpty() && !m_tokenFile.isEmpty() && file.open(QIODevice::WriteOnly)) {
                                        file.write(token.toUtf8());
                                        file.commit();
                                    }
                                    m_state = State::running;
                                });
                        });
            });
}

bool RemoteDesktopKeyboard::sendKey(int evdevKeycode, bool pressed)
{
    if (m_state != State::running)
        return false;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("NotifyKeyboardKeycode"));
    call << QVariant::fromValue(QDBusObjectPath(m_session)) << QVariantMap() << evdevKeycode << uint(pressed ? 1 : 0);
    // The portal answers only to say it refused (the session ended): the next key finds it not running.
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        if (w->isError() && m_state == State::running)
            fail(w->error().message());
    });
    return true;
}

void RemoteDesktopKeyboard::request(const QString &method, QVariantList args, QVariantMap options, Answer answer)
{
    const QString token = QStringLiteral("voxle%1").arg(++m_nextToken);
    options.insert(QStringLiteral("handle_token"), token);
    // The request's path is known before the call, so its answer cannot slip past.
    QString sender = m_bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString path = kPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
    m_pending.insert(path, std::move(answer));
    m_bus.connect(kService, path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"), this,
                  SLOT(onResponse(uint, QVariantMap, QDBusMessage)));
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    args << options;
    call.setArguments(args);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, path, method](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        if (!w->isError() || !m_pending.remove(path))
            return;
        m_bus.disconnect(kService, path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"),
                         this, SLOT(onResponse(uint, QVariantMap, QDBusMessage)));
        fail(method + QStringLiteral(": ") + w->error().message());
    });
}

void RemoteDesktopKeyboard::onResponse(uint response, const QVariantMap &results, const QDBusMessage &message)
{
    const Answer answer = m_pending.take(message.path());
    m_bus.disconnect(kService, message.path(), QStringLiteral("org.freedesktop.portal.Request"),
                     QStringLiteral("Response"), this, SLOT(onResponse(uint, QVariantMap, QDBusMessage)));
    if (answer)
        answer(response, results);
}

void RemoteDesktopKeyboard::onSessionClosed()
{
    fail(QStringLiteral("the session was closed"));
}

void RemoteDesktopKeyboard::fail(const QString &why, State next)
{
    qCWarning(lcRemoteDesktop) << "no remote desktop keyboard:" << why;
    if (!m_session.isEmpty()) {
        const QString session = QStringLiteral("org.freedesktop.portal.Session");
        m_bus.disconnect(kService, m_session, session, QStringLiteral("Closed"), this, SLOT(onSessionClosed()));
        m_bus.asyncCall(QDBusMessage::createMethodCall(kService, m_session, session, QStringLiteral("Close")));
    }
    m_session.clear();
    m_state = next;
}
