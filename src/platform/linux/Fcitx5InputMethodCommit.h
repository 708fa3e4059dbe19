#pragma once

#include "platform/InputMethodCommit.h"

#include <QDBusConnection>
#include <QObject>

class QDBusMessage;
class QDBusServiceWatcher;

// The input-method route through Fcitx5: the project's add-on inside fcitx5 (object /voxle on fcitx5's own bus
// name) commits into the focused input context, on X11 and Wayland alike. Calls go over the session bus without
// waiting on it; each is bounded by timeoutMs and never starts fcitx5 by bus activation.
class Fcitx5InputMethodCommit final : public QObject, public InputMethodCommit
{
    Q_OBJECT
public:
    static constexpr int defaultTimeoutMs = 800;

    explicit Fcitx5InputMethodCommit(const QDBusConnection &bus = QDBusConnection::sessionBus(),
                                     int timeoutMs = defaultTimeoutMs, QObject *parent = nullptr);
    ~Fcitx5InputMethodCommit() override;

    QString routeName() const override;
    bool isFrameworkRunning() const override;
    void focusState(std::function<void(std::optional<FocusState>)> done) override;
    void commit(const QString &text, Done done) override;
    void setPreedit(const QString &text, Done done) override;
    void clearPreedit(Done done) override;

private:
    void call(const QString &method, const QVariantList &args, std::function<void(const QDBusMessage &)> reply);
    void callForOutcome(const QString &method, const QVariantList &args, Done done);
    Outcome failure(const QDBusMessage &reply);
    // Delivers an answer on a later turn of the event loop, as a bus reply would come.
    void later(std::function<void()> fn);

    QDBusConnection m_bus;
    int m_timeoutMs;
    QDBusServiceWatcher *m_watcher;
    bool m_running = false;
    bool m_warnedMissingAddon = false;
};
