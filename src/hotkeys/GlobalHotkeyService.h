#pragma once

#include "base/Clock.h"
#include "base/VoxleTypes.h"
#include "hotkeys/HotkeyHost.h"
#include "platform/KeyEventTap.h"

#include <QObject>
#include <optional>

// Owns the application's one keyboard tap and turns its events into dictation commands on the host, by the
// hotkey scheme the host has chosen. Lives on the main thread.
class GlobalHotkeyService : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 fnAloneDelayMs = 60;

    GlobalHotkeyService(HotkeyHost &state, KeyEventTap &tap, Clock &clock, QObject *parent = nullptr);
    ~GlobalHotkeyService() override;

    // Creates and enables the tap once; later calls do nothing. There is no stop.
    void start();

    // The interpreter itself: what the tap callback runs for every event.
    KeyTapVerdict handleEvent(const KeyTapEvent &event);

    bool isTapping() const { return m_tapCreated; }
    bool isListenOnlyTap() const { return m_isListenOnlyTap; }
    // The keys the present state may swallow (handed to the tap after every change).
    QList<KeyCombo> swallowCandidates() const;

public slots:
    // Call when the host's scheme, status or bindings changed, so the tap holds the right keys.
    void refreshSwallowCandidates();

private:
    KeyTapVerdict escapeRule(const KeyTapEvent &event, bool &claimed);
    KeyTapVerdict keyRule(const KeyTapEvent &event);
    KeyTapVerdict flagsRule(const KeyTapEvent &event);
    bool runBindingHandler(quint16 keyCode, quint64 flags, int type, bool autorepeat);
    void cancelPendingFnStart();
    void firePendingFnStart();
    KeyTapVerdict swallow() const;

    HotkeyHost &m_state;
    KeyEventTap &m_tap;
    Clock &m_clock;

    bool m_tapCreated = false;
    bool m_isListenOnlyTap = false;
    bool m_fnDown = false;
    Clock::TimerId m_pendingFnStart = 0;
    bool m_controlDown = false;
    bool m_commandDown = false;
    bool m_fnTapCandidate = false;
    bool m_controlTapCandidate = false;
    bool m_commandTapCandidate = false;
    bool m_fnTapCanceled = false;
    bool m_controlTapCanceled = false;
    bool m_commandTapCanceled = false;
    quint64 m_lastFlagsForCustom = 0;
    bool m_keyPressOccurredForCustom = false;
    QList<KeyCombo> m_announced;
};
