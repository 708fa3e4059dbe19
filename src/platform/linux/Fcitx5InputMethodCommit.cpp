#include "platform/linux/Fcitx5InputMethodCommit.h"

#include "base/Logging.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QLoggingCategory>
#include <QTimer>

Q_LOGGING_CATEGORY(lcInputMethod, "app.voxle.desktop.InputMethod", defaultLogThreshold())

namespace {

const QString kService = QStringLiteral("org.fcitx.Fcitx5");
const QString kPath = QStringLiteral("/voxle");
const QString kInterface = QStringLiteral("app.voxle.InputMethod1");

InputMethodCommit::Outcome outcomeFromReply(const QString &answer)
{
    using O = InputMethodCommit::Outcome;
    if (answer == QLatin1String("committed") || answer == QLatin1String("shown"))
        return O::done;
    if (answer == QLatin1String("no-focus"))
        return O::noFocus;
    if (answer == QLatin1String("password"))
        return O::password;
    if (answer == QLatin1String("composing"))
        return O::composing;
    if (answer == QLatin1String("unsupported"))
        return O::unsupported;
    return O::failed;
}

} // namespace

Fcitx5InputMethodCommit::Fcitx5InputMethodCommit(const QDBusConnection &bus, int timeoutMs, QObject *parent)
    : QObject(parent), m_bus(bus), m_timeoutMs(timeoutMs),
      m_watcher(new QDBusServiceWatcher(
          kService, m_bus, QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration,
          this))
{
    connect(m_watcher, &QDBusServiceWatcher::serviceRegistered, this, [this]() {
        m_running = true;
        m_warnedMissingAddon = false;
    });
    connect(m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, [this]() { m_running = false; });
    QDBusMessage ask =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    ask << kService;
    auto *watch = new QDBusPendingCallWatcher(m_bus.asyncCall(ask, m_timeoutMs), this);
    connect(watch, &QDBusPendingCallWatcher::finished, this, [this, watch]() {
        watch->deleteLater();
        const QDBusMessage reply = watch->reply();
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
            m_running = m_running || reply.arguments().first().toBool();
    });
}

Fcitx5InputMethodCommit::~Fcitx5InputMethodCommit() = default;

QString Fcitx5InputMethodCommit::routeName() const
{
    return QStringLiteral("fcitx5");
}

bool Fcitx5InputMethodCommit::isFrameworkRunning() const
{
    return m_running;
}

void Fcitx5InputMethodCommit::later(std::function<void()> fn)
{
    QTimer::singleShot(0, this, std::move(fn));
}

void Fcitx5InputMethodCommit::call(const QString &method, const QVariantList &args,
                                   std::function<void(const QDBusMessage &)> reply)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    message.setArguments(args);
    // A dictation must never be the thing that starts the user's input method.
    message.setAutoStartService(false);
    auto *watch = new QDBusPendingCallWatcher(m_bus.asyncCall(message, m_timeoutMs), this);
    connect(watch, &QDBusPendingCallWatcher::finished, this, [watch, reply = std::move(reply)]() {
        watch->deleteLater();
        reply(watch->reply());
    });
}

InputMethodCommit::Outcome Fcitx5InputMethodCommit::failure(const QDBusMessage &reply)
{
    const QString name = reply.errorName();
    if (name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
        name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")) {
        m_running = false;
        return Outcome::noFramework;
    }
    if (name == QLatin1String("org.freedesktop.DBus.Error.UnknownObject") ||
        name == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod")) {
        if (!m_warnedMissingAddon)
            qCWarning(lcInputMethod) << "fcitx5 runs without the Voxle add-on (restart fcitx5 after installing it)";
        m_warnedMissingAddon = true;
    } else {
        qCDebug(lcInputMethod) << "fcitx5 call failed:" << name;
    }
    return Outcome::failed;
}

void Fcitx5InputMethodCommit::callForOutcome(const QString &method, const QVariantList &args, Done done)
{
    if (!m_running) {
        later([done = std::move(done)]() { done(Outcome::noFramework); });
        return;
    }
    call(method, args, [this, done = std::move(done)](const QDBusMessage &reply) {
        if (reply.type() != QDBusMessage::ReplyMessage) {
            done(failure(reply));
            return;
        }
        // ClearPreedit answers nothing: whatever of ours was there is gone.
        const QVariantList answer = reply.arguments();
        done(answer.isEmpty() ? Outcome::done : outcomeFromReply(answer.first().toString()));
    });
}

void Fcitx5InputMethodCommit::focusState(std::function<void(std::optional<FocusState>)> done)
{
    if (!m_running) {
        later([done = std::move(done)]() { done(std::nullopt); });
        return;
    }
    call(QStringLiteral("FocusState"), {}, [this, done = std::move(done)](const QDBusMessage &reply) {
        const QVariantList a = reply.arguments();
        if (reply.type() != QDBusMessage::ReplyMessage || a.size() != 3) {
            failure(reply);
            done(std::nullopt);
            return;
        }
        done(FocusState{a[0].toBool(), a[1].toBool(), a[2].toString()});
    });
}

void Fcitx5InputMethodCommit::commit(const QString &text, Done done)
{
    qCDebug(lcInputMethod) << "commit through fcitx5, length" << text.size();
    callForOutcome(QStringLiteral("Commit"), {text}, std::move(done));
}

void Fcitx5InputMethodCommit::setPreedit(const QString &text, Done done)
{
    callForOutcome(QStringLiteral("SetPreedit"), {text}, std::move(done));
}

void Fcitx5InputMethodCommit::clearPreedit(Done done)
{
    callForOutcome(QStringLiteral("ClearPreedit"), {}, std::move(done));
}
