#pragma once

#include "output/TextInjector.h"
#include "platform/InputMethodCommit.h"

#include <optional>

// Live text in the focused field while the user speaks (a setting, off by default): each partial transcript
// stands there as an uncommitted composition through the input method, the final text takes its place through
// the same route, and a cancel removes it without a trace. Stands in front of the ordinary injector, which gets
// the final text when no live text was shown or the input method refuses it. Partials that come faster than
// the framework answers are coalesced (only the newest is sent next). Main thread.
class InputMethodLiveText final : public TextInjector
{
public:
    InputMethodLiveText(TextInjector &injector, InputMethodCommit &inputMethod);

    void setEnabled(bool enabled) { m_enabled = enabled; }
    bool isEnabled() const { return m_enabled; }

    void showPartial(const QString &text);
    // Ends the dictation with its final text: committed in place of the live text when some was sent,
    // otherwise (or when the input method refuses it) handed to the ordinary injector. Text that is empty
    // after trimming only removes the live text.
    void injectAtCursor(const QString &text) override;
    // Removes the live text and forgets the dictation; harmless when there is none.
    void cancel();
    // Escape: the live text goes and an insertion in flight stops.
    void cancelInsertion() override;
    // True while live text has been sent in this dictation.
    bool isActive() const { return m_sent; }

private:
    void send(const QString &text);
    bool reset();

    TextInjector &m_injector;
    InputMethodCommit &m_inputMethod;
    bool m_enabled = false;
    // Replies from an earlier dictation are dropped.
    quint64 m_generation = 0;
    bool m_sent = false;
    bool m_inFlight = false;
    std::optional<QString> m_pending;
    // The newest partial taken, so that a repeat costs nothing.
    std::optional<QString> m_latest;
};
