#pragma once

#include "platform/KeyEventTap.h"

// A keyboard tap driven by the test: it records how it was created and what it was asked to hold, and
// delivers the events the test sends through the installed handler. Like the X11 tap, it can swallow only
// the presses of the keys it was asked to hold, decided before the handler runs; the handler's own answer
// is kept in `deliveries` so tests can compare the two.
class FakeKeyEventTap final : public KeyEventTap
{
public:
    bool granted = true;
    bool refuseActiveFilter = false;
    bool refuseListenOnly = false;

    int createCalls = 0;
    int enableCalls = 0;
    bool created = false;
    bool enabled = false;
    Mode mode = Mode::activeFilter;
    QList<KeyCombo> swallowCandidates;
    FnRoleKey fnRoleKey = FnRoleKeys::defaultKey;
    // Every event delivered, what the tap did with it, and what the handler answered.
    struct Delivery {
        KeyTapEvent event;
        KeyTapVerdict applied;
        KeyTapVerdict handler;
    };
    QList<Delivery> deliveries;

    bool inputMonitoringGranted() const override { return granted; }
    bool create(Mode mode, Handler handler) override;
    void enable() override;
    void setSwallowCandidates(const QList<KeyCombo> &combos) override;
    void setFnRoleKey(FnRoleKey key) override { fnRoleKey = key; }

    // Delivers an event when the tap is enabled and returns what happened to it; a disabled or missing tap
    // passes everything.
    KeyTapVerdict send(const KeyTapEvent &event);
    KeyTapVerdict keyDown(quint16 keyCode, quint64 flags = 0, bool autorepeat = false);
    KeyTapVerdict keyUp(quint16 keyCode, quint64 flags = 0);
    KeyTapVerdict flags(quint16 keyCode, quint64 flags);

private:
    Handler m_handler;
};
