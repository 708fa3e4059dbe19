#include "platform/fake/FakeAccessibility.h"

#include <algorithm>

namespace {
class FakeElement final : public Accessibility::Element
{
public:
    explicit FakeElement(FakeAccessibility &owner) : m_owner(owner) {}

    bool setSelectedText(const QString &text) override
    {
        auto &f = m_owner.field;
        m_owner.calls << QStringLiteral("setSelectedText:") + text;
        if (!f.acceptsSelectedText)
            return false;
        if (f.dropsInsertedText)
            return true;
        const qint64 start = std::clamp<qint64>(f.selection.location, 0, f.value.size());
        const qint64 count = std::clamp<qint64>(f.selection.length, 0, f.value.size() - start);
        const QString inserted = f.truncatesInsertedText ? text.left(text.size() / 2) : text;
        f.value.replace(start, count, inserted);
        // Like a real field: the inserted text ends up selected nowhere, the caret after it.
        f.selection = {start + inserted.size(), 0};
        return true;
    }
    std::optional<Accessibility::TextRange> selectedTextRange() override
    {
        m_owner.calls << QStringLiteral("selectedTextRange");
        if (!m_owner.field.exposesRange)
            return std::nullopt;
        return m_owner.field.selection;
    }
    bool setSelectedTextRange(Accessibility::TextRange range) override
    {
        m_owner.calls << QStringLiteral("setSelectedTextRange:%1,%2").arg(range.location).arg(range.length);
        if (!m_owner.field.acceptsRange)
            return false;
        m_owner.field.selection = range;
        return true;
    }
    std::optional<QString> value() override
    {
        m_owner.calls << QStringLiteral("value");
        if (!m_owner.field.exposesValue)
            return std::nullopt;
        if (m_owner.field.masksValue)
            return QString(m_owner.field.value.size(), QChar(0x2022));
        return m_owner.field.value;
    }
    bool setValue(const QString &value) override
    {
        m_owner.calls << QStringLiteral("setValue:") + value;
        if (!m_owner.field.acceptsValue)
            return false;
        m_owner.field.value = value;
        return true;
    }
    bool isTerminal() override { return m_owner.field.terminal; }

private:
    FakeAccessibility &m_owner;
};
} // namespace

bool FakeAccessibility::isProcessTrusted()
{
    return trusted;
}

bool FakeAccessibility::requestTrust()
{
    calls << QStringLiteral("requestTrust");
    return trusted;
}

std::unique_ptr<Accessibility::Element> FakeAccessibility::focusedElement()
{
    if (!hasFocus)
        return nullptr;
    return std::make_unique<FakeElement>(*this);
}
