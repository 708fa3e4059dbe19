#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QVariantMap>
#include <functional>

class QDBusMessage;

// The keyboard of a session of the desktop's RemoteDesktop portal (org.freedesktop.portal.RemoteDesktop): the
// way GNOME and KDE let an application type into other applications' Wayland windows. Starting a session asks
// the user; the portal may keep that permission (a restore token, kept in tokenFile), so that later starts do
// not ask again. Everything is asynchronous: keys go out only while a session runs, and the portal's answers
// come back on this object's thread.
class RemoteDesktopKeyboard final : public QObject
{
    Q_OBJECT

public:
    enum class State {
        unknown,     // the portal has not answered yet
        unavailable, // no portal, or it offers no keyboard
        available,   // a session can be started
        starting,    // waiting for the portal, or for the user's consent
        running,     // keys can be sent
    };

    // bus: where the portal is; tokenFile: where the restore token is kept, none when empty.
    explicit RemoteDesktopKeyboard(QDBusConnection bus = QDBusConnection::sessionBus(), QString tokenFile = {});

    State state() const { return m_state; }
    // Asks the portal whether it offers a keyboard.
    void probe();
    // Starts a session (the user may be asked); the state says when it runs.
    void start();
    // Sends a key press or release (an evdev key code). False when no session runs.
    bool sendKey(int evdevKeycode, bool pressed);

private slots:
    void onResponse(uint response, const QVariantMap &results, const QDBusMessage &message);
    void onSessionClosed();

private:
    using Answer = std::function<void(uint response, const QVariantMap &results)>;
    // Calls a portal method that answers through a Request object's Response signal.
    void request(const QString &method, QVariantList args, QVariantMap options, Answer answer);
    // Ends the session; next says whether another may be started (asking the user again).
    void fail(const QString &why, State next = State::available);

    QDBusConnection m_bus;
    QString m_tokenFile;
    State m_state = State::unknown;
    QString m_session;
    int m_nextToken = 0;
    QHash<QString, Answer> m_pending; // by request path
};
