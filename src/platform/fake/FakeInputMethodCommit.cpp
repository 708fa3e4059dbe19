#include "platform/fake/FakeInputMethodCommit.h"

#include "base/Clock.h"

FakeInputMethodCommit::FakeInputMethodCommit(Clock &clock) : m_clock(clock) {}

void FakeInputMethodCommit::answer(std::function<Outcome()> act, Done done)
{
    // The framework acts when it handles the call, not when it is made: focus may have moved in between.
    m_clock.schedule(replyDelayMs, [act = std::move(act), done = std::move(done)]() { done(act()); });
}

std::optional<InputMethodCommit::Outcome> FakeInputMethodCommit::refusal() const
{
    if (!running)
        return Outcome::noFramework;
    if (failing)
        return Outcome::failed;
    if (!focused)
        return Outcome::noFocus;
    if (field.password)
        return Outcome::password;
    return std::nullopt;
}

void FakeInputMethodCommit::focusState(std::function<void(std::optional<FocusState>)> done)
{
    calls << QStringLiteral("focusState");
    m_clock.schedule(replyDelayMs, [this, done = std::move(done)]() {
        if (!running || failing) {
            done(std::nullopt);
            return;
        }
        done(FocusState{focused, focused && field.password, {}});
    });
}

void FakeInputMethodCommit::commit(const QString &text, Done done)
{
    calls << QStringLiteral("commit:") + text;
    answer(
        [this, text]() {
            if (running && !failing)
                field.livePreedit.clear();
            if (const auto refused = refusal())
                return *refused;
            field.value.insert(field.cursor, text);
            field.cursor += text.size();
            return Outcome::done;
        },
        std::move(done));
}

void FakeInputMethodCommit::setPreedit(const QString &text, Done done)
{
    calls << QStringLiteral("setPreedit:") + text;
    answer(
        [this, text]() {
            if (const auto refused = refusal())
                return *refused;
            if (!field.userPreedit.isEmpty())
                return Outcome::composing;
            field.livePreedit = text;
            return Outcome::done;
        },
        std::move(done));
}

void FakeInputMethodCommit::clearPreedit(Done done)
{
    calls << QStringLiteral("clearPreedit");
    answer(
        [this]() {
            if (!running)
                return Outcome::noFramework;
            if (failing)
                return Outcome::failed;
            field.livePreedit.clear();
            return Outcome::done;
        },
        std::move(done));
}
