#include "output/InputMethodLiveText.h"

#include "diagnostics/DebugEvent.h"

#include <QJsonObject>

namespace {
const QString kLocation = QStringLiteral("InputMethodLiveText.finish");
const QString kHypothesis = QStringLiteral("C");
} // namespace

InputMethodLiveText::InputMethodLiveText(InputMethodCommit &inputMethod) : m_inputMethod(inputMethod) {}

void InputMethodLiveText::showPartial(const QString &text)
{
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

void InputMethodLiveText::finish(const QString &text, Fallback fallback)
{
    const bool sent = m_sent;
    ++m_generation;
    m_sent = false;
    m_inFlight = false;
    m_pending.reset();
    const QString trimmed = text.trimmed();
    if (!sent) {
        fallback(text);
        return;
    }
    if (trimmed.isEmpty()) {
        m_inputMethod.clearPreedit([](InputMethodCommit::Outcome) {});
        return;
    }
    // Calls reach the framework in order, so a preedit still on its way is shown before the commit removes it.
    const QString route = m_inputMethod.routeName();
    m_inputMethod.commit(trimmed, [this, text, route, fallback = std::move(fallback)](InputMethodCommit::Outcome o) {
        if (o == InputMethodCommit::Outcome::done) {
            sendDebugEvent(kLocation, QStringLiteral("[DEBUG] IME commit success"), kHypothesis,
                           {{QStringLiteral("route"), route}, {QStringLiteral("len"), text.trimmed().size()}});
            return;
        }
        sendDebugEvent(kLocation, QStringLiteral("[DEBUG] IME commit declined; fallback to injection"), kHypothesis,
                       {{QStringLiteral("route"), route}, {QStringLiteral("outcome"), static_cast<int>(o)}});
        m_inputMethod.clearPreedit([](InputMethodCommit::Outcome) {});
        fallback(text);
    });
}

void InputMethodLiveText::cancel()
{
    const bool sent = m_sent;
    ++m_generation;
    m_sent = false;
    m_inFlight = false;
    m_pending.reset();
    if (sent)
        m_inputMethod.clearPreedit([](InputMethodCommit::Outcome) {});
}
