#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <optional>

// The accessibility interface of the desktop: process trust, and the element holding the keyboard focus in
// whatever application has it. Every range and length here is in UTF-16 code units (QString indices), whatever
// the backend counts in underneath.
//
// Calls into other applications can hang as long as those applications do, so they never run on the caller's
// thread: work is posted as a job that runs on the backend's own thread, one job at a time.
class Accessibility
{
public:
    struct TextRange {
        qint64 location = 0;
        qint64 length = 0;
        friend bool operator==(const TextRange &, const TextRange &) = default;
    };

    // The focused element, used only inside the job that found it. Every call answers for the element as it
    // is now; false / empty means the element does not support the operation, or the call failed or went
    // unanswered (see Session::unanswered).
    class Element
    {
    public:
        virtual ~Element() = default;
        // Replaces the selection with text, or inserts it at the caret when nothing is selected.
        virtual bool setSelectedText(const QString &text) = 0;
        virtual std::optional<TextRange> selectedTextRange() = 0;
        virtual bool setSelectedTextRange(TextRange range) = 0;
        // The whole text content.
        virtual std::optional<QString> value() = 0;
        virtual bool setValue(const QString &value) = 0;
        // Removes the text in range, leaving the rest of the field (formatting, caret) as it is.
        virtual bool deleteText(TextRange range) = 0;
        // A terminal wants its paste chord with Shift.
        virtual bool isTerminal() = 0;
        // False once the desktop has reported the focus on another element since this one was found.
        virtual bool stillFocused() = 0;
    };

    // What a job sees, on the backend's thread.
    class Session
    {
    public:
        virtual ~Session() = default;
        virtual bool isProcessTrusted() = 0;
        // Asks the system to let this process use accessibility (the prompt).
        virtual void requestTrust() = 0;
        // Null when nothing has the focus or the desktop cannot tell.
        virtual std::unique_ptr<Element> focusedElement() = 0;
        // Waits on the backend's thread, for applications that apply an edit some time after accepting it.
        virtual void pause(int ms) = 0;
        // True once a call of this job got no answer in time: the application is hung, and a write may still
        // land later.
        virtual bool unanswered() const = 0;
    };

    using Job = std::function<void(Session &)>;

    virtual ~Accessibility() = default;
    // For the permission labels; answered by the desktop's accessibility bus, not by other applications.
    virtual bool isProcessTrusted() = 0;
    // Asks the system to let this process use accessibility (the prompt). Answers the trust afterwards.
    virtual bool requestTrust() = 0;
    // Runs job on the backend's thread after the jobs posted before it, then done on the caller's thread.
    virtual void post(Job job, std::function<void()> done) = 0;
};
