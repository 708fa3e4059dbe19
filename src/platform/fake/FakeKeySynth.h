#pragma once

#include "platform/KeySynth.h"

#include <QList>
#include <functional>

// Records the key events posted; onPost lets a test see the world at the moment of a key event.
class FakeKeySynth final : public KeySynth
{
public:
    struct Event {
        quint16 keyCode;
        quint64 flags;
        bool keyDown;
        friend bool operator==(const Event &, const Event &) = default;
    };

    QList<Event> events;
    bool failPosting = false;
    bool terminalWindow = false;
    std::function<void(const Event &)> onPost;

    bool postKey(quint16 keyCode, quint64 flags, bool keyDown) override;
    bool focusedWindowIsTerminal() override { return terminalWindow; }
};
