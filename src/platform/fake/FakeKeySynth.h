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
    PasteChord chord = PasteChord::commandV;
    quint64 window = 0x400001;
    bool held = false;
    std::function<void(const Event &)> onPost;

    bool postKey(quint16 keyCode, quint64 flags, bool keyDown) override;
    quint64 focusedWindow() override { return window; }
    PasteChord pasteChordForFocusedWindow() override { return chord; }
    bool modifiersHeld() override { return held; }
};
