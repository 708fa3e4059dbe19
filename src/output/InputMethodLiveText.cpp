#include "output/InputMethodLiveText.h"

#include "diagnostics/DebugEvent.h"

namespace {
const QString kLocation = QStringLiteral("InputMethodLiveText.injectAtCursor");
const QString kHypothesis = QStringLiteral("C");
} // namespace

InputMethodLiveText::InputMethodLiveText(TextInjector &injector, InputMethodCommit &inputMethod)
    : m_injector(injector), m_inputMethod(inputMethod)
{
}

void InputMethodLiveText::showPartial(const QString &text)
{
    if (!m_enabled || !m_inputMethod.isFrameworkRunning() || m_latest == text)
        return;
    m_latest = text;
    if (m_inFlight) {
        m_pending = text;
        return;
    }
    send(text);
}

void InputMethodLiveText::send(const QString &text)
{
    m_inFlight = true;
    m_sent = true;
    const quint64 generation = m_generation;
    m_inputMethod.setPreedit(text, [this, generation](InputMethodCommit::Outcome) {
        if (generation != m_generation)
            return;
        m_inFlight = false;
        if (m_pending) {
            const QString next = *std::exchange(m_pending, std::nullopt);
            send(next);
        }
    });
}

bool InputMethodLiveText::reset()
{
    const bool sent = m_sent;
    ++m_generation;
    m_sent = false;
    m_inFlight = false;
    m_pending.reset();
    m_latest.reset();
    return sent;
}

void InputMethodLiveText::injectAtCursor(const QString &text)
{
    if (!reset()) {
        m_injector.injectAtCursor(text);
        return;
    }
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        m_inputMethod.clearPreedit([](InputMethodCommit::Outcome) {});
        return;
    }
    // Calls reach the framework in order, so a preedit still on its way is shown before the commit removes it.
    const QString route = m_inputMethod.routeName();
    InputMethodCommit &inputMethod = m_inputMethod;
    TextInjector &injector = m_injector;
    inputMethod.commit(trimmed, [&inputMethod, &injector, text, route](InputMethodCommit::Outcome outcome) {
        if (outcome == InputMethodCommit::Outcome::done) {
            sendDebugEvent(kLocation, QStringLiteral("[DEBUG] IME commit success"), kHypothesis,
                           {{QStringLiteral("route"), route}, {QStringLiteral("len"), text.trimmed().size()}});
            return;
        }
        sendDebugEvent(
            kLocation, QStringLiteral("[DEBUG] IME commit declined; fallback"), kHypothesis,
            {{QStringLiteral("route"), route}, {QStringLiteral("outcome"), InputMethodCommit::outcomeName(outcome)}});
        inputMethod.clearPreedit([](InputMethodCommit::Outcome) {});
        injector.injectAtCursor(text);
    });
}

void InputMethodLiveText::cancel()
{
    if (reset())
        m_inputMethod.clearPreedit([](InputMethodCommit::Outcome) {});
}

void InputMethodLiveText::cancelInsertion()
{
    cancel();
    m_injector.cancelInsertion();
}
