#include "platform/fake/FakeKeyEventTap.h"

bool FakeKeyEventTap::create(Mode requested, Handler handler)
{
    ++createCalls;
    if ((requested == Mode::activeFilter && refuseActiveFilter) || (requested == Mode::listenOnly && refuseListenOnly))
        return false;
    created = true;
    mode = requested;
    m_handler = std::move(handler);
    return true;
}

void FakeKeyEventTap::enable()
{
    ++enableCalls;
    enabled = created;
}

void FakeKeyEventTap::setSwallowCandidates(const QList<KeyCombo> &combos)
{
    swallowCandidates = combos;
}

KeyTapVerdict FakeKeyEventTap::send(const KeyTapEvent &event)
{
    if (!enabled || !m_handler)
        return KeyTapVerdict::pass;
    // The grabs are in place before the key goes down; a listen-only tap holds none.
    const bool swallowed = mode == Mode::activeFilter && KeyTap::grabSwallows(swallowCandidates, event);
    const KeyTapVerdict applied = swallowed ? KeyTapVerdict::swallow : KeyTapVerdict::pass;
    deliveries << Delivery{event, applied, m_handler(event)};
    return applied;
}

KeyTapVerdict FakeKeyEventTap::keyDown(quint16 keyCode, quint64 flags, bool autorepeat)
{
    return send(KeyTapEvent{KeyTap::keyDown, keyCode, flags, autorepeat});
}

KeyTapVerdict FakeKeyEventTap::keyUp(quint16 keyCode, quint64 flags)
{
    return send(KeyTapEvent{KeyTap::keyUp, keyCode, flags, false});
}

KeyTapVerdict FakeKeyEventTap::flags(quint16 keyCode, quint64 flags)
{
    return send(KeyTapEvent{KeyTap::flagsChanged, keyCode, flags, false});
}
