#pragma once

#include "platform/Accessibility.h"

#include <QStringList>

// A desktop whose focused field is a plain string with a selection, and whose answers the test sets.
class FakeAccessibility final : public Accessibility
{
public:
    // The focused field. Flags say which operations it supports.
    struct Field {
        QString value;
        TextRange selection;
        bool acceptsSelectedText = true;
        bool exposesValue = true;
        bool exposesRange = true;
        bool acceptsValue = true;
        bool acceptsRange = true;
        bool terminal = false;
        // Takes setSelectedText but keeps the text from reaching the value (a field that silently drops it).
        bool dropsInsertedText = false;
        // Takes setSelectedText but inserts only the first half of the text (a toolkit counting other units).
        bool truncatesInsertedText = false;
        // Reads back every character as a bullet, as a password field does.
        bool masksValue = false;
    };

    bool trusted = true;
    bool hasFocus = true;
    Field field;
    // Every call on the field or the desktop, e.g. "setSelectedText:XY", "requestTrust".
    QStringList calls;

    bool isProcessTrusted() override;
    bool requestTrust() override;
    std::unique_ptr<Element> focusedElement() override;
};
