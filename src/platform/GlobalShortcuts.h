#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

// Desktop-wide shortcuts that the desktop itself owns (on Wayland no client may watch the keyboard): the
// program names its actions, the user assigns keys in the desktop's settings, and the desktop reports each
// press and release of an assigned key.
class GlobalShortcuts : public QObject
{
    Q_OBJECT
public:
    struct Shortcut {
        QString id;
        QString description;      // what the user reads in the desktop's shortcut settings
        QString preferredTrigger; // a suggestion in XDG shortcut notation, e.g. "CTRL+ALT+space"; may be empty
    };
    // unavailable: the desktop offers no such service; failed: it refused or broke off the binding.
    enum class Status { idle, binding, bound, unavailable, failed };

    using QObject::QObject;

    // Asks the desktop for the shortcuts, once; the answer comes later through statusChanged.
    virtual void bind(const QList<Shortcut> &shortcuts) = 0;

    Status status() const { return m_status; }
    bool available() const { return m_status == Status::binding || m_status == Status::bound; }
    // The ids the desktop bound, each with its own description of the assigned trigger (empty when the user
    // assigned none or the desktop did not say).
    const QHash<QString, QString> &triggers() const { return m_triggers; }

signals:
    void statusChanged();
    void activated(const QString &id);
    void deactivated(const QString &id);

protected:
    void setStatus(Status status, const QHash<QString, QString> &triggers = {})
    {
        m_triggers = triggers;
        if (status == m_status)
            return;
        m_status = status;
        emit statusChanged();
    }

private:
    Status m_status = Status::idle;
    QHash<QString, QString> m_triggers;
};
