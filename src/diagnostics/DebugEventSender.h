#pragma once

#include <QByteArray>
#include <QObject>
#include <QUrl>

class QNetworkAccessManager;

// Posts debug events from a thread of its own, so that no caller ever waits on the network. Created on first
// use and torn down with the QCoreApplication.
class DebugEventSender : public QObject
{
    Q_OBJECT
public:
    // Queues the POST and returns at once; does nothing without a QCoreApplication. Thread-safe.
    static void post(const QUrl &url, const QByteArray &body);

private:
    DebugEventSender();
    void send(const QUrl &url, const QByteArray &body);
    static void shutdown();

    QNetworkAccessManager *m_network = nullptr;
};
