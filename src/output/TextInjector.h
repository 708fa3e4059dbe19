#pragma once

#include <QString>

// Inserts finished text at the keyboard focus of whatever application has it. Main thread; returns at once and
// finishes asynchronously.
class TextInjector
{
public:
    virtual ~TextInjector() = default;
    virtual void injectAtCursor(const QString &text) = 0;
    // Stops every insertion not yet typed: nothing more is written into the target. The clipboard is still
    // given back.
    virtual void cancelInsertion() = 0;
};
