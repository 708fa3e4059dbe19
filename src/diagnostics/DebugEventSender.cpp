#include "diagnostics/DebugEventSender.h"

#include <QCoreApplication>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>

namespace {
QMutex g_mutex;
QThread *g_thread = nullptr;
DebugEventSender *g_sender = nullptr;
} // namespace

DebugEventSender::DebugEventSender() = default;

void DebugEventSender::post(const QUrl &url, const QByteArray &body)
{
    QMutexLocker lock(&g_mutex);
    if (!QCoreApplication::instance())
        return;
    if (!g_sender) {
        g_thread = new QThread;
        g_thread->setObjectName(QStringLiteral("VoxleDebugEvents"));
        g_sender = new DebugEventSender;
        g_sender->moveToThread(g_thread);
        g_thread->start();
        qAddPostRoutine(&DebugEventSender::shutdown);
    }
    QMetaObject::invokeMethod(
        g_sender, [sender = g_sender, url, body] { sender->send(url, body); }, Qt::QueuedConnection);
}

void DebugEventSender::send(const QUrl &url, const QByteArray &body)
{
    if (!m_network) {
        m_network = new QNetworkAccessManager(this);
        // The collector runs on this machine; a desktop proxy setting must not divert its events.
        m_network->setProxy(QNetworkProxy::NoProxy);
    }
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(60000);
    QNetworkReply *reply = m_network->post(request, body);
    // The reply and any error are of no interest.
    connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
}

void DebugEventSender::shutdown()
{
    QMutexLocker lock(&g_mutex);
    if (!g_sender)
        return;
    // The network objects belong to the sender's thread and are destroyed there.
    QMetaObject::invokeMethod(
        g_sender, [sender = g_sender] { delete sender; }, Qt::BlockingQueuedConnection);
    g_sender = nullptr;
    g_thread->quit();
    g_thread->wait();
    delete g_thread;
    g_thread = nullptr;
}
