#pragma once

#include <QString>
#include <functional>
#include <optional>

// The user's input-method framework, as a way to put text into the field that has the keyboard focus: a commit
// reaches the application the way typed Chinese does, without the clipboard, and live text can stand in the
// field as an uncommitted composition (preedit). Every call answers asynchronously on the main thread, never
// inside the call itself, and within a short bound: while a passive key grab waits, the keyboard waits.
// Calls are carried out in the order they are made.
class InputMethodCommit
{
public:
    enum class Outcome {
        done,        // committed, shown or removed
        noFramework, // no framework this route can talk to is running
        noFocus,     // no input context has the focus now
        password,    // the focused field is a password or otherwise sensitive field
        composing,   // the user's own composition is open there (live text is not drawn over it)
        unsupported, // the focused client draws no preedit
        failed,      // no answer in time, or the framework lacks the part this route needs
    };
    struct FocusState {
        bool focused = false;
        bool password = false;
        QString program;
    };
    using Done = std::function<void(Outcome)>;

    virtual ~InputMethodCommit() = default;
    // Names the route in logs and debug events, e.g. "fcitx5".
    virtual QString routeName() const = 0;
    // Answered at once from what is already known (the framework's presence on the bus).
    virtual bool isFrameworkRunning() const = 0;
    // The focused input context now; empty when the framework cannot be asked.
    virtual void focusState(std::function<void(std::optional<FocusState>)> done) = 0;
    // Commits text into the context that has the focus at the moment the framework handles the call, never
    // into a password field; a composition of the user's own stays open after the text. Removes live text
    // shown by setPreedit, wherever it stands.
    virtual void commit(const QString &text, Done done) = 0;
    // Shows text as the focused field's preedit, replacing live text shown before.
    virtual void setPreedit(const QString &text, Done done) = 0;
    // Removes the live text, leaving the field as it was before it was shown.
    virtual void clearPreedit(Done done) = 0;

    // For logs and debug events.
    static QString outcomeName(Outcome outcome)
    {
        switch (outcome) {
        case Outcome::done:
            return QStringLiteral("done");
        case Outcome::noFramework:
            return QStringLiteral("no-framework");
        case Outcome::noFocus:
            return QStringLiteral("no-focus");
        case Outcome::password:
            return QStringLiteral("password");
        case Outcome::composing:
            return QStringLiteral("composing");
        case Outcome::unsupported:
            return QStringLiteral("unsupported");
        case Outcome::failed:
            return QStringLiteral("failed");
        }
        return {};
    }
};
