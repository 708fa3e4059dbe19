#pragma once

#include "base/Clock.h"
#include "platform/Accessibility.h"

#include <QStringList>

// A desktop whose focused field is a plain string with a selection, and whose answers the test sets. Jobs run
// as the real backend runs them: later, not inside post(); here on the clock, at its next turn.
class FakeAccessibility final : public Accessibility
{
public:
    // The focused field. Flags say which operations it supports.
    struct Field {
        QString value;
        TextRange selection;
        bool acceptsSelectedText = true;
        bool exposesValue = true;
        bool exposesRange = true;
        bool acceptsValue = true;
        bool terminal = false;
        // Takes setSelectedText or setValue but keeps the text from reaching the value (a field that drops it).
        bool dropsInsertedText = false;
        // Takes setSelectedText but shows every character as "?", as a field in a narrower encoding does.
        bool altersInsertedText = false;
        // Shows an accepted insertion only after this many pauses of the job (a browser applying it later).
        int appliesAfterPauses = 0;
        // Reads back every character as a bullet, as a password field does.
        bool masksValue = false;
    };

    explicit FakeAccessibility(Clock &clock) : m_clock(clock) {}

    bool trusted = true;
    bool hasFocus = true;
    // The application hangs: every call goes unanswered.
    bool hung = false;
    // Set by the test to move the desktop's focus to another element while a job runs.
    bool focusMovedOn = false;
    Field field;
    // Every call on the field or the desktop, e.g. "setSelectedText:XY", "requestTrust", "pause".
    QStringList calls;
    // Called before every call on the field, with its name, e.g. to move the focus half-way through a job.
    std::function<void(const QString &)> onCall;

    bool isProcessTrusted() override { return trusted; }
    bool requestTrust() override;
    void post(Job job, std::function<void()> done) override;

    // An accepted insertion not yet shown (appliesAfterPauses).
    struct Pending {
        QString value;
        int pauses = 0;
        TextRange selection;
    };
    std::optional<Pending> pending;

private:
    Clock &m_clock;
};
