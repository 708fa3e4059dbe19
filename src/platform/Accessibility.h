#pragma once

#include <QString>
#include <memory>
#include <optional>

// The accessibility interface of the desktop: process trust, and the element holding the keyboard focus in
// whatever application has it. Every range and length here is in UTF-16 code units (QString indices), whatever
// the backend counts in underneath.
class Accessibility
{
public:
    struct TextRange {
        qint64 location = 0;
        qint64 length = 0;
        friend bool operator==(const TextRange &, const TextRange &) = default;
    };

    // The focused element. Every call answers for the element as it is now; false / empty means the element
    // does not support the operation or the call failed.
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
        // A terminal wants its paste chord with Shift.
        virtual bool isTerminal() = 0;
    };

    virtual ~Accessibility() = default;
    virtual bool isProcessTrusted() = 0;
    // Asks the system to let this process use accessibility (the prompt). Answers the trust afterwards.
    virtual bool requestTrust() = 0;
    // Null when nothing has the focus or the desktop cannot tell.
    virtual std::unique_ptr<Element> focusedElement() = 0;
};
