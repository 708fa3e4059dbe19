#pragma once

#include "base/Clock.h"
#include "output/TextInjector.h"
#include "platform/Accessibility.h"
#include "platform/Pasteboard.h"

#include <deque>
#include <memory>
#include <optional>

class InputMethodCommit;
class KeySynth;

// Puts finished dictation text at the keyboard focus: through the accessibility interface when it can, else
// by the clipboard and a synthetic paste chord, giving the user's own clipboard back afterwards. Main thread.
class TextInjectionService final : public TextInjector
{
public:
    static constexpr qint64 pasteDelayMs = 50;
    static constexpr qint64 restoreDelayMs = 300;

    TextInjectionService(Accessibility &accessibility, Pasteboard &pasteboard, KeySynth &keySynth, Clock &clock);
    ~TextInjectionService() override;
    TextInjectionService(const TextInjectionService &) = delete;
    TextInjectionService &operator=(const TextInjectionService &) = delete;

    void injectAtCursor(const QString &text) override;

    // The user's input method as a route between accessibility and the paste; none by default.
    void setInputMethod(InputMethodCommit *inputMethod);

    // For the permission labels and onboarding.
    bool isAccessibilityTrusted();
    bool requestAccessibilityTrust();

private:
    // What the clipboard held before the service first wrote to it, kept until the restore.
    struct SavedClipboard {
        std::optional<QString> oldString;
        Pasteboard::Contents oldContents;
        qint64 oldChangeCount = 0;
    };
    struct PasteOperation {
        SavedClipboard saved;
        qint64 injectedChangeCount = 0;
    };

    void insertTrimmed(const QString &text);
    bool insertViaAccessibility(const QString &text);
    void commitViaInputMethodOrPaste(const QString &text);
    void startPaste(const QString &text);
    void placeText(const QString &text, SavedClipboard saved);
    void postPasteAndScheduleRestore();
    void restoreClipboard();

    Accessibility &m_accessibility;
    Pasteboard &m_pasteboard;
    KeySynth &m_keySynth;
    Clock &m_clock;
    // The paste whose text is on the clipboard and not yet restored, and the texts waiting behind it: a later
    // paste must not replace the clipboard before the target has read the earlier one.
    std::optional<PasteOperation> m_active;
    std::deque<QString> m_waiting;
    Clock::TimerId m_timer = 0;
    InputMethodCommit *m_inputMethod = nullptr;
    // A commit the input method has not answered yet, and the texts that came meanwhile, in order.
    bool m_inputMethodPending = false;
    std::deque<QString> m_afterInputMethod;
    // Lets an answer that comes after the service is gone find that out.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
