#include "platform/fake/FakeAccessibility.h"

#include <algorithm>

class FakeSession final : public Accessibility::Session
{
public:
    explicit FakeSession(FakeAccessibility &owner) : m_owner(owner) {}

    // Records the call; false when the hung application leaves it unanswered.
    bool answer(const QString &call)
    {
        if (m_owner.onCall)
            m_owner.onCall(call);
        m_owner.calls << call;
        if (m_owner.hung)
            m_unanswered = true;
        return !m_owner.hung;
    }

    bool isProcessTrusted() override { return m_owner.trusted; }
    void requestTrust() override { m_owner.calls << QStringLiteral("requestTrust"); }
    std::unique_ptr<Accessibility::Element> focusedElement() override;
    void pause(int) override
    {
        m_owner.calls << QStringLiteral("pause");
        auto &pending = m_owner.pending;
        if (pending && --pending->pauses <= 0) {
            m_owner.field.value = pending->value;
            m_owner.field.selection = pending->selection;
            pending.reset();
        }
    }
    bool unanswered() const override { return m_unanswered; }

private:
    FakeAccessibility &m_owner;
    bool m_unanswered = false;
};

namespace {
class FakeElement final : public Accessibility::Element
{
public:
    FakeElement(FakeAccessibility &owner, FakeSession &session) : m_owner(owner), m_session(session) {}

    bool setSelectedText(const QString &text) override
    {
        auto &f = m_owner.field;
        if (!m_session.answer(QStringLiteral("setSelectedText:") + text) || !f.acceptsSelectedText)
            return false;
        if (f.dropsInsertedText)
            return true;
        const qint64 start = std::clamp<qint64>(f.selection.location, 0, f.value.size());
        const qint64 count = std::clamp<qint64>(f.selection.length, 0, f.value.size() - start);
        const QString inserted = f.altersInsertedText ? QString(text.size(), u'?') : text;
        QString value = f.value;
        value.replace(start, count, inserted);
        // Like a real field: the inserted text ends up selected nowhere, the caret after it.
        if (f.appliesAfterPauses > 0) {
            m_owner.pending = FakeAccessibility::Pending{value, f.appliesAfterPauses, {start + inserted.size(), 0}};
            return true;
        }
        f.value = value;
        f.selection = {start + inserted.size(), 0};
        return true;
    }
    std::optional<Accessibility::TextRange> selectedTextRange() override
    {
        if (!m_session.answer(QStringLiteral("selectedTextRange")) || !m_owner.field.exposesRange)
            return std::nullopt;
        return m_owner.field.selection;
    }
    bool setSelectedTextRange(Accessibility::TextRange range) override
    {
        if (!m_session.answer(QStringLiteral("setSelectedTextRange:%1,%2").arg(range.location).arg(range.length)))
            return false;
        m_owner.field.selection = range;
        return true;
    }
    std::optional<QString> value() override
    {
        if (!m_session.answer(QStringLiteral("value")) || !m_owner.field.exposesValue)
            return std::nullopt;
        if (m_owner.field.masksValue)
            return QString(m_owner.field.value.size(), QChar(0x2022));
        return m_owner.field.value;
    }
    bool setValue(const QString &value) override
    {
        if (!m_session.answer(QStringLiteral("setValue:") + value) || !m_owner.field.acceptsValue)
            return false;
        if (!m_owner.field.dropsInsertedText)
            m_owner.field.value = value;
        return true;
    }
    bool deleteText(Accessibility::TextRange range) override
    {
        if (!m_session.answer(QStringLiteral("deleteText:%1,%2").arg(range.location).arg(range.length)))
            return false;
        m_owner.field.value.remove(range.location, range.length);
        m_owner.field.selection = {range.location, 0};
        return true;
    }
    bool isTerminal() override { return m_session.answer(QStringLiteral("isTerminal")) && m_owner.field.terminal; }
    bool stillFocused() override { return !m_owner.focusMovedOn; }

private:
    FakeAccessibility &m_owner;
    FakeSession &m_session;
};
} // namespace

std::unique_ptr<Accessibility::Element> FakeSession::focusedElement()
{
    if (!answer(QStringLiteral("focusedElement")) || !m_owner.hasFocus)
        return nullptr;
    return std::make_unique<FakeElement>(m_owner, *this);
}

bool FakeAccessibility::requestTrust()
{
    calls << QStringLiteral("requestTrust");
    return trusted;
}

void FakeAccessibility::post(Job job, std::function<void()> done)
{
    m_clock.schedule(0, [this, job = std::move(job), done = std::move(done)]() {
        FakeSession session(*this);
        job(session);
        done();
    });
}
