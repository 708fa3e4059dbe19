#pragma once

#include "platform/InputMethodCommit.h"

#include <functional>
#include <optional>

// Live text in the focused field while the user speaks: each partial transcript stands there as an
// uncommitted composition through the input method, the final text takes its place through the same route,
// and a cancel removes it without a trace. Partials that come faster than the framework answers are coalesced
// (only the newest is sent next). Main thread.
class InputMethodLiveText
{
public:
    using Fallback = std::function<void(const QString &text)>;

    explicit InputMethodLiveText(InputMethodCommit &inputMethod);

    void showPartial(const QString &text);
    // Ends the dictation with its final text. When live text was sent, the text is committed in its place;
    // otherwise, or when the input method refuses it, fallback gets the text (the ordinary insertion). Empty
    // text only removes the live text.
    void finish(const QString &text, Fallback fallback);
    // Removes the live text and forgets the dictation.
    void cancel();
    // True while live text has been sent in this dictation.
    bool isActive() const { return m_sent; }

private:
    void send(const QString &text);

    InputMethodCommit &m_inputMethod;
    // Replies from an earlier dictation are dropped.
    quint64 m_generation = 0;
    bool m_sent = false;
    bool m_inFlight = false;
    std::optional<QString> m_pending;
};
