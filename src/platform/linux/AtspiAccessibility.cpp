#include "platform/linux/AtspiAccessibility.h"

#include "base/Logging.h"
#include "platform/linux/AtspiWorker.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcAtspi, "app.voxle.desktop.AtspiBus", defaultLogThreshold())

namespace {
// The accessibility bus launcher answers these, not another application.
constexpr int kBusTimeoutMs = 1000;

QDBusMessage a11yStatusCall(const QString &method)
{
    return QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                          QStringLiteral("org.freedesktop.DBus.Properties"), method);
}
} // namespace

AtspiAccessibility::AtspiAccessibility(std::function<qint64()> focusedProcess)
    : m_worker(new AtspiWorker(std::move(focusedProcess)))
{
    m_thread.setObjectName(QStringLiteral("voxle.atspi"));
    m_worker->setFocusIdentity(&m_focusIdentity);
    m_worker->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.start();
}

AtspiAccessibility::~AtspiAccessibility()
{
    // A job stuck on a hung application ends within its call timeouts.
    m_thread.quit();
    m_thread.wait();
}

bool AtspiAccessibility::isProcessTrusted()
{
    QDBusMessage call = a11yStatusCall(QStringLiteral("Get"));
    call << QStringLiteral("org.a11y.Status") << QStringLiteral("IsEnabled");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, kBusTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    return reply.arguments().first().value<QDBusVariant>().variant().toBool();
}

bool AtspiAccessibility::requestTrust()
{
    QDBusMessage call = a11yStatusCall(QStringLiteral("Set"));
    call << QStringLiteral("org.a11y.Status") << QStringLiteral("IsEnabled") << QVariant::fromValue(QDBusVariant(true));
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, kBusTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage)
        qCWarning(lcAtspi) << "cannot enable the accessibility bus:" << reply.errorMessage();
    return isProcessTrusted();
}

void AtspiAccessibility::post(Job job, std::function<void()> done)
{
    QMetaObject::invokeMethod(
        m_worker,
        [worker = m_worker, context = &m_context, job = std::move(job), done = std::move(done)]() mutable {
            worker->run(job);
            QMetaObject::invokeMethod(context, std::move(done), Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void AtspiAccessibility::followFocus()
{
    // Any job sets up the listener first.
    post([](Session &) {}, []() {});
}
