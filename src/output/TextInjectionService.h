#pragma once

#include "base/Clock.h"
#include "output/TextInjector.h"
#include "platform/Accessibility.h"
#include "platform/KeySynth.h"
#include "platform/Pasteboard.h"

#include <atomic>
#include <deque>
#include <functional>
#include <memory>

class InputMethodCommit;

// Puts finished dictation text at the keyboard focus: through the accessibility interface when it can, else
// by the clipboard and a synthetic paste chord, giving the user's own clipboard back once the target has read
// it. Main thread; nothing here waits on another application: accessibility work runs on the backend's thread,
// clipboard reads are asynchronous, and every wait is bounded on the clock.
//
// When the paste cannot be made (the clipboard cannot be set, the chord cannot be sent, or nothing fetched the
// text after it) the insertion fails aloud: the failure handler gets a message for the user, and the text is left on
// the clipboard when it got there.
//
// Text goes only where it was dictated: before each step that writes (accessibility writes, the paste chord)
// the insertion checks that it was not cancelled and that the focus is still on the window, and where known the
// element, it started with. Otherwise it stops; the text stays in the history.
class TextInjectionService final : public TextInjector
{
public:
    static constexpr qint64 pasteDelayMs = 50;
    // How long the chord waits for the user to let go of the hotkey's modifiers.
    static constexpr qint64 modifierWaitMs = 500;
    static constexpr qint64 modifierPollMs = 20;
    static constexpr qint64 clipboardReadBoundMs = 1000;
    // The restore follows the target's read, and comes at the latest this long after the chord.
    static constexpr qint64 restoreBoundMs = 2000;
    // Time left after a read for the target's further requests (other formats of the same paste).
    static constexpr qint64 restoreAfterReadMs = 100;
    // Applications that apply an accessibility edit later are given this long to show it.
    static constexpr int readBackPolls = 10;
    static constexpr int readBackPollMs = 50;

    TextInjectionService(Accessibility &accessibility, Pasteboard &pasteboard, KeySynth &keySynth, Clock &clock);
    ~TextInjectionService() override;
    TextInjectionService(const TextInjectionService &) = delete;
    TextInjectionService &operator=(const TextInjectionService &) = delete;

    void injectAtCursor(const QString &text) override;
    void cancelInsertion() override;
    // True until every insertion asked for has ended (typed, given up, or its clipboard given back).
    bool busy() const { return !m_queue.empty(); }

    // The user's input method as a route between accessibility and the paste; none by default.
    void setInputMethod(InputMethodCommit *inputMethod);

    // Receives the user-facing message of an insertion that failed; none by default.
    void setFailureHandler(std::function<void(const QString &message)> handler);

    // For the permission labels and onboarding.
    bool isAccessibilityTrusted();
    bool requestAccessibilityTrust();

    // Shared with the accessibility thread while an insertion runs.
    struct Flight {
        std::atomic<bool> cancelled{false};
        quint64 window = 0;
    };
    enum class Outcome { inserted, failed, untrusted, stopped, unanswered };

private:
    struct Operation {
        quint64 id = 0;
        QString text;
        std::shared_ptr<Flight> flight = std::make_shared<Flight>();
        bool terminalRole = false;
        Pasteboard::Snapshot saved;
        qint64 injectedChangeCount = 0;
        qint64 chordAtMs = -1;
        KeySynth::PasteChord chord = KeySynth::PasteChord::commandV;
        bool readAfterChord = false;
    };

    void begin();
    void accessibilityDone(Outcome outcome);
    void commitViaInputMethodOrPaste();
    void startPaste();
    void placeText(Pasteboard::Snapshot saved);
    void waitForModifiers(qint64 since);
    void postChord();
    void targetRead();
    void restoreClipboard();
    void putBack();
    void finish();
    // Why the focused window may not be written to any more, or empty when it may.
    QString refusal() const;
    void stop(const QString &why);
    void fail(const QString &message);
    // Leaves the text on the clipboard for the user to paste, and says so.
    void leaveForUser();
    void schedule(qint64 delayMs, std::function<void()> fn);
    std::function<void()> guarded(std::function<void()> fn);

    Accessibility &m_accessibility;
    Pasteboard &m_pasteboard;
    KeySynth &m_keySynth;
    Clock &m_clock;
    // The insertion under way first, the texts dictated after it behind: one insertion at a time keeps the
    // texts in order and the clipboard the user's.
    std::deque<Operation> m_queue;
    quint64 m_nextId = 1;
    Clock::TimerId m_timer = 0;
    InputMethodCommit *m_inputMethod = nullptr;
    std::function<void(const QString &)> m_failureHandler;
    // Callbacks from other threads and the clipboard outlive nothing: they check this first.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
