#pragma once

#include "base/Clock.h"
#include "platform/Pasteboard.h"

// An in-memory clipboard; every write, by the code under test or by the test acting as the user, counts a change.
// Reads are answered as a real owner answers them: later, readDelayMs on the clock when one is set; an owner
// slower than the reader's bound gives nothing.
class FakePasteboard final : public Pasteboard
{
public:
    Contents items;
    qint64 count = 0;
    Clock *clock = nullptr;
    qint64 readDelayMs = 0;
    // The text offered for one paste, while it is still what the clipboard holds, and whether it went to the
    // primary selection as well.
    bool transient = false;
    bool primary = false;
    quint64 targetWindow = 0;
    // Writes fail, as where no clipboard can be owned: the content stays what it was.
    bool failWrites = false;

    qint64 changeCount() const override { return count; }
    void readContents(qint64 boundMs, std::function<void(Snapshot)> done) override;
    void setString(const QString &text) override;
    void setContents(const Contents &contents) override;
    void offerTransientText(const QString &text, bool alsoPrimary, quint64 window,
                            std::function<void()> readByTarget) override;
    bool lastWriteFailed() const override { return failWrites; }

    // The plain text, as anyone reading the clipboard now gets it.
    std::optional<QString> string() const { return textOf(items); }
    // The paste target fetches the clipboard text.
    std::optional<QString> readAsTarget();
    // A clipboard manager takes the content over as its own, unchanged.
    void managerTakesOver();

private:
    std::function<void()> m_readByTarget;
};
