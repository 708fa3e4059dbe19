#pragma once

#include "platform/KeyEventTap.h"

#include <QByteArray>
#include <QObject>
#include <QThread>

// The session keyboard on X11, on a connection and a thread of its own. Every key is observed through XInput2
// raw events on the root window, which never take anything from other applications. Swallowing is done only
// for the keys the interpreter names as candidates: each is held by a synchronous passive grab, so its press
// stops the whole keyboard until it is answered. The tap's thread answers it at once, from the candidates and
// the keys it has seen held (KeyTap::grabSwallows), and only then hands the event to the handler on the thread
// that created the tap: nothing the program does, however slow, can hold the user's keyboard. A key another
// client has grabbed stays observed only, as with a listen-only tap. Key codes follow the active keymap and
// layout group (MappingNotify, XKB state and map notifications).
class X11KeyEventTap final : public QObject, public KeyEventTap
{
    Q_OBJECT
public:
    // An empty display name means $DISPLAY.
    explicit X11KeyEventTap(QByteArray displayName = {}, QObject *parent = nullptr);
    ~X11KeyEventTap() override;

    // True when an X display is reachable.
    bool inputMonitoringGranted() const override;
    bool create(Mode mode, Handler handler) override;
    void enable() override;
    void setSwallowCandidates(const QList<KeyCombo> &combos) override;
    void setFnRoleKey(FnRoleKey key) override;

    FnRoleKey fnRoleKey() const { return m_roleKey; }
    // Candidates held by grabs, as the tap's thread last reported for the latest candidates; until
    // grabsCurrent(), the report is of an earlier list.
    QList<KeyCombo> grabbedCombos() const { return m_grabbed; }
    bool grabsCurrent() const { return m_reported == m_request; }

signals:
    // The tap's thread has (re)taken the grabs for the latest candidates: after new candidates, a role key, a
    // keymap or a group change.
    void grabsApplied();

private:
    class Worker;

    void deliver(const KeyTapEvent &event);
    void takeGrabReport(quint64 request, const QList<KeyCombo> &grabbed);

    QByteArray m_displayName;
    Mode m_mode = Mode::listenOnly;
    Handler m_handler;
    bool m_enabled = false;
    FnRoleKey m_roleKey = FnRoleKeys::defaultKey;
    QList<KeyCombo> m_wanted;
    quint64 m_request = 0;  // counts the candidate lists handed to the tap's thread
    quint64 m_reported = 0; // the latest of them its grabs were reported for
    QList<KeyCombo> m_grabbed;
    QThread m_thread;
    Worker *m_worker = nullptr; // lives on m_thread
};
