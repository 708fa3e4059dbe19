#pragma once

#include "platform/InputMethodCommit.h"

#include <QStringList>

class Clock;

// A framework with one focused field, answering each call after replyDelayMs on the clock (never inside the
// call), in call order, with the checks the Fcitx5 add-on makes at the moment it handles the call.
class FakeInputMethodCommit final : public InputMethodCommit
{
public:
    struct Field {
        QString value;
        qint64 cursor = 0;
        bool password = false;
        // The user's own composition, kept across commits.
        QString userPreedit;
        // Live text shown through this route.
        QString livePreedit;
    };

    explicit FakeInputMethodCommit(Clock &clock);

    bool running = true;
    bool focused = true;
    // Answers every call with failed (a framework without the add-on, or one that timed out).
    bool failing = false;
    qint64 replyDelayMs = 0;
    Field field;
    // Every call as it was made, e.g. "commit:abc", "setPreedit:ab", "clearPreedit".
    QStringList calls;

    QString routeName() const override { return QStringLiteral("fake"); }
    bool isFrameworkRunning() const override { return running; }
    void focusState(std::function<void(std::optional<FocusState>)> done) override;
    void commit(const QString &text, Done done) override;
    void setPreedit(const QString &text, Done done) override;
    void clearPreedit(Done done) override;

private:
    void answer(std::function<Outcome()> act, Done done);
    std::optional<Outcome> refusal() const;

    Clock &m_clock;
};
