#pragma once

#include <QString>

// Inserts finished text at the keyboard focus of whatever application has it. Main thread, synchronous.
class TextInjector
{
public:
    virtual ~TextInjector() = default;
    virtual void injectAtCursor(const QString &text) = 0;
};
