#pragma once

#include "platform/KeyEventTap.h"
#include "platform/linux/X11KeyTranslator.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QSet>

struct _XDisplay;
union _XEvent;
class QSocketNotifier;

// The session keyboard on X11, on a connection of its own. Every key is observed through XInput2 raw events
// on the root window, which never take anything from other applications. Swallowing is done only for the keys
// the interpreter names as candidates: each is held by a synchronous passive grab, so its press stops at this
// client until the interpreter has answered, and is then either kept (swallowed) or replayed to the focused
// window (passed). A key another client has grabbed stays observed only, as with a listen-only tap.
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

    FnRoleKey fnRoleKey() const { return m_translator.fnRoleKey(); }
    // Candidates held by grabs right now, and those whose grab the server refused.
    QList<KeyCombo> grabbedCombos() const { return m_grabbed; }
    QList<KeyCombo> refusedCombos() const { return m_refused; }

signals:
    void grabsChanged();

private:
    void readEvents();
    void dispatch(_XEvent &event);
    void handleKey(bool press, quint32 xKeyCode, unsigned long time, bool raw);
    void handleGrabbedPress(quint32 xKeyCode, unsigned long time);
    void rebuildKeymap();
    void applyGrabs();
    QList<quint32> keycodesFor(const KeyCombo &combo) const;
    static QList<unsigned int> masksFor(const KeyCombo &combo);
    void scheduleRead();

    QByteArray m_displayName;
    _XDisplay *m_display = nullptr;
    unsigned long m_root = 0;
    int m_xiOpcode = -1;
    Mode m_mode = Mode::listenOnly;
    Handler m_handler;
    bool m_enabled = false;
    bool m_reading = false;
    QSocketNotifier *m_notifier = nullptr;
    X11KeyTranslator m_translator;
    QHash<quint32, quint32> m_keysymAt; // X key code -> keysym at its first level
    QList<KeyCombo> m_wanted;
    QHash<quint32, QSet<unsigned int>> m_wantedMasks; // X key code -> modifier masks asked for
    QHash<quint32, QSet<unsigned int>> m_grabs;       // X key code -> modifier masks actually held
    QList<KeyCombo> m_grabbed;
    QList<KeyCombo> m_refused;
    struct Transition {
        bool press;
        quint32 xKeyCode;
        unsigned long time;
        bool operator==(const Transition &) const = default;
    };
    QList<Transition> m_recentRaw;             // raw transitions not yet matched by a core event
    QHash<quint32, unsigned long> m_swallowAt; // X key code -> time of the press to swallow
};
