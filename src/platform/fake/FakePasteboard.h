#pragma once

#include "platform/Pasteboard.h"

// An in-memory clipboard; every write, by the code under test or by the test acting as the user, counts a change.
class FakePasteboard final : public Pasteboard
{
public:
    Contents items;
    qint64 count = 0;

    qint64 changeCount() const override { return count; }
    std::optional<QString> string() const override;
    Contents contents() const override { return items; }
    void setString(const QString &text) override;
    void setContents(const Contents &contents) override;
};
