#include "output/TextInjectionService.h"

#include "base/Logging.h"
#include "base/TextCount.h"
#include "diagnostics/DebugEvent.h"
#include "platform/InputMethodCommit.h"
#include "platform/KeySynth.h"

#include <QJsonObject>
#include <algorithm>
#include <cstdio>

namespace {

const QString kLocation = QStringLiteral("TextInjectionService.injectAtCursor");
const QString kHypothesis = QStringLiteral("C");

void debugEvent(const QString &message, const QJsonObject &data = {})
{
    sendDebugEvent(kLocation, message, kHypothesis, data);
}

void printLine(const QString &line)
{
    printTrace(lcAppState(), line.toUtf8());
}

// True when text is found at the caret: ending there (the caret moved past it) or starting there (it did not).
bool textAtCaret(const QString &value, qint64 caret, const QString &text)
{
    const qint64 n = text.size();
    const qint64 from = std::clamp<qint64>(caret - n, 0, value.size());
    return value.mid(from, 2 * n).contains(text);
}

// Every character the same bullet-like symbol, as password fields show their content.
bool masked(const QString &value)
{
    return !value.isEmpty() && value.count(value.front()) == value.size() && !value.front().isLetterOrNumber();
}

QString chordLabel(KeySynth::PasteChord chord)
{
    switch (chord) {
    case KeySynth::PasteChord::commandV:
        break;
    case KeySynth::PasteChord::commandShiftV:
        return QStringLiteral("Ctrl+Shift+V");
    case KeySynth::PasteChord::shiftInsert:
        return QStringLiteral("Shift+Insert");
    }
    return QStringLiteral("Ctrl+V");
}

using Outcome = TextInjectionService::Outcome;
using Voxle::characterCount;

// Runs on the accessibility thread. flightAllows (not cancelled, same window) is asked before every write.
Outcome insertViaAccessibility(Accessibility::Session &session, const QString &text,
                               const std::function<bool()> &flightAllows, bool &terminal)
{
    if (!session.isProcessTrusted()) {
        session.requestTrust();
        return Outcome::untrusted;
    }
    const std::unique_ptr<Accessibility::Element> element = session.focusedElement();
    if (!element)
        return session.unanswered() ? Outcome::unanswered : Outcome::failed;
    const auto mayWrite = [&]() { return flightAllows() && element->stillFocused(); };
    const auto failed = [&]() {
        if (session.unanswered())
            return Outcome::unanswered;
        terminal = element->isTerminal();
        return Outcome::failed;
    };

    // Kept to judge the read-back and to take back a mangled insertion.
    const std::optional<QString> before = element->value();
    const std::optional<Accessibility::TextRange> selectionBefore = element->selectedTextRange();
    if (session.unanswered())
        return Outcome::unanswered;
    if (!mayWrite())
        return Outcome::stopped;

    if (element->setSelectedText(text)) {
        if (const auto range = element->selectedTextRange(); range && mayWrite())
            element->setSelectedTextRange({range->location + range->length, 0});
        // Some fields accept the call and drop or mangle the text, some apply it a moment later: only text that
        // reads back counts as typed. A field that cannot be read back is taken at its word.
        std::optional<QString> after;
        for (int poll = 0;; ++poll) {
            after = element->value();
            const std::optional<Accessibility::TextRange> caret = element->selectedTextRange();
            if (session.unanswered())
                return Outcome::unanswered;
            if (!after || !caret)
                return Outcome::inserted;
            if (textAtCaret(*after, caret->location + caret->length, text))
                return Outcome::inserted;
            if (!before || *after != *before || poll == TextInjectionService::readBackPolls)
                break;
            session.pause(TextInjectionService::readBackPollMs);
        }
        if (before && selectionBefore && *after != *before) {
            const qint64 start = std::clamp<qint64>(selectionBefore->location, 0, before->size());
            const qint64 replaced = std::clamp<qint64>(selectionBefore->length, 0, before->size() - start);
            // Some toolkits rewrite the whole field and leave the caret at its end: look where the text went in.
            if (after->mid(start, text.size()) == text)
                return Outcome::inserted;
            // A masked field (a password) reads back as bullets: the length alone tells the text is in.
            const qint64 landed = after->size() - (before->size() - replaced);
            if (landed == text.size() && masked(*after))
                return Outcome::inserted;
            // Take back what landed, so the paste does not add to a fragment; the rest of the field stays.
            if (landed > 0 && mayWrite())
                element->deleteText({start, landed});
        }
        return failed();
    }

    const std::optional<QString> value = element->value();
    const std::optional<Accessibility::TextRange> range = value ? element->selectedTextRange() : std::nullopt;
    if (!value || !range)
        return failed();
    const qint64 length = value->size();
    const qint64 start = std::clamp<qint64>(range->location, 0, length);
    const qint64 count = std::clamp<qint64>(range->length, 0, length - start);
    QString newValue = *value;
    newValue.replace(start, count, text);
    if (!mayWrite())
        return Outcome::stopped;
    if (!element->setValue(newValue))
        return failed();
    if (mayWrite())
        element->setSelectedTextRange({start + text.size(), 0});
    const std::optional<QString> readBack = element->value();
    if (session.unanswered())
        return Outcome::unanswered;
    return !readBack || readBack->mid(start, text.size()) == text ? Outcome::inserted : failed();
}

} // namespace

TextInjectionService::TextInjectionService(Accessibility &accessibility, Pasteboard &pasteboard, KeySynth &keySynth,
                                           Clock &clock)
    : m_accessibility(accessibility), m_pasteboard(pasteboard), m_keySynth(keySynth), m_clock(clock)
{
}

TextInjectionService::~TextInjectionService()
{
    for (Operation &op : m_queue)
        op.flight->cancelled = true;
    m_clock.cancelTimer(m_timer);
}

bool TextInjectionService::isAccessibilityTrusted()
{
    return m_accessibility.isProcessTrusted();
}

bool TextInjectionService::requestAccessibilityTrust()
{
    return m_accessibility.requestTrust();
}

void TextInjectionService::injectAtCursor(const QString &text)
{
    printLine(QStringLiteral("[TextInjector] 准备向光标处注入文本，长度: %1").arg(characterCount(text)));
    const QString trimmed = text.trimmed();
    debugEvent(QStringLiteral("[DEBUG] inject enter"), {{QStringLiteral("trimmedLen"), characterCount(trimmed)}});
    if (trimmed.isEmpty())
        return;
    Operation op;
    op.id = m_nextId++;
    op.text = trimmed;
    // The window is the one the user dictated into, taken now: a later text waits behind an earlier one but
    // still belongs where it was spoken.
    op.flight->window = m_keySynth.focusedWindow();
    m_queue.push_back(std::move(op));
    if (m_queue.size() == 1)
        begin();
}

void TextInjectionService::setInputMethod(InputMethodCommit *inputMethod)
{
    m_inputMethod = inputMethod;
}

void TextInjectionService::setFailureHandler(std::function<void(const QString &)> handler)
{
    m_failureHandler = std::move(handler);
}

void TextInjectionService::cancelInsertion()
{
    for (Operation &op : m_queue)
        op.flight->cancelled = true;
}

std::function<void()> TextInjectionService::guarded(std::function<void()> fn)
{
    // Runs fn only while the service lives and the same insertion is under way.
    return [this, alive = std::weak_ptr<bool>(m_alive), id = m_queue.front().id, fn = std::move(fn)]() {
        if (alive.expired() || m_queue.empty() || m_queue.front().id != id)
            return;
        fn();
    };
}

void TextInjectionService::schedule(qint64 delayMs, std::function<void()> fn)
{
    m_timer = m_clock.schedule(delayMs, std::move(fn));
}

QString TextInjectionService::refusal() const
{
    const Flight &flight = *m_queue.front().flight;
    if (flight.cancelled)
        return QStringLiteral("cancelled");
    if (m_keySynth.focusedWindow() != flight.window)
        return QStringLiteral("focus moved");
    return {};
}

void TextInjectionService::stop(const QString &why)
{
    // The text is kept in the history by the caller; only the log says why it was not typed.
    printLine(QStringLiteral("[TextInjector] 未插入文本（%1），文本保留在历史记录中").arg(why));
    debugEvent(QStringLiteral("[DEBUG] inject stopped"), {{QStringLiteral("reason"), why}});
}

void TextInjectionService::fail(const QString &message)
{
    printLine(QStringLiteral("[TextInjector] 粘贴失败：%1").arg(message));
    debugEvent(QStringLiteral("[DEBUG] inject failed"), {{QStringLiteral("message"), message}});
    if (m_failureHandler)
        m_failureHandler(message);
    finish();
}

void TextInjectionService::leaveForUser()
{
    // Kept as an ordinary copy rather than given back: the user may paste it more than once.
    const Operation &op = m_queue.front();
    m_pasteboard.setString(op.text);
    fail(QStringLiteral("已复制到剪贴板，请按 %1 粘贴").arg(chordLabel(op.chord)));
}

void TextInjectionService::begin()
{
    Operation &op = m_queue.front();
    if (const QString why = refusal(); !why.isEmpty()) {
        stop(why);
        finish();
        return;
    }
    auto outcome = std::make_shared<Outcome>(Outcome::failed);
    auto terminal = std::make_shared<bool>(false);
    Accessibility::Job job = [text = op.text, flight = op.flight, keys = &m_keySynth, outcome,
                              terminal](Accessibility::Session &session) {
        const auto allows = [&]() { return !flight->cancelled && keys->focusedWindow() == flight->window; };
        *outcome = insertViaAccessibility(session, text, allows, *terminal);
    };
    m_accessibility.post(std::move(job), guarded([this, outcome, terminal]() {
                             m_queue.front().terminalRole = *terminal;
                             accessibilityDone(*outcome);
                         }));
}

void TextInjectionService::accessibilityDone(Outcome outcome)
{
    const QString &text = m_queue.front().text;
    switch (outcome) {
    case Outcome::inserted:
        debugEvent(QStringLiteral("[DEBUG] AX insert success"), {{QStringLiteral("len"), characterCount(text)}});
        finish();
        return;
    case Outcome::stopped:
        stop(refusal().isEmpty() ? QStringLiteral("focus moved") : refusal());
        finish();
        return;
    case Outcome::unanswered:
        // A hung application may still apply a write it never answered: a paste on top could type the text
        // twice, or into whatever it shows when it wakes.
        stop(QStringLiteral("target not responding"));
        finish();
        return;
    case Outcome::untrusted:
        debugEvent(QStringLiteral("[DEBUG] missing accessibility permission (AXIsProcessTrusted=false)"));
        break;
    case Outcome::failed:
        debugEvent(QStringLiteral("[DEBUG] AX insert failed; fallback to paste"));
        break;
    }
    commitViaInputMethodOrPaste();
}

void TextInjectionService::commitViaInputMethodOrPaste()
{
    if (!m_inputMethod || !m_inputMethod->isFrameworkRunning()) {
        startPaste();
        return;
    }
    if (const QString why = refusal(); !why.isEmpty()) {
        stop(why);
        finish();
        return;
    }
    const QString route = m_inputMethod->routeName();
    const Operation &op = m_queue.front();
    m_inputMethod->commit(op.text, [this, alive = std::weak_ptr<bool>(m_alive), id = op.id,
                                    route](InputMethodCommit::Outcome outcome) {
        if (alive.expired() || m_queue.empty() || m_queue.front().id != id)
            return;
        const QString &text = m_queue.front().text;
        if (outcome == InputMethodCommit::Outcome::done) {
            debugEvent(QStringLiteral("[DEBUG] IME commit success"),
                       {{QStringLiteral("route"), route}, {QStringLiteral("len"), characterCount(text)}});
            printLine(QStringLiteral("[TextInjector] 已通过输入法提交文本 (%1)").arg(route));
            finish();
            return;
        }
        debugEvent(QStringLiteral("[DEBUG] IME commit declined; fallback to paste"),
                   {{QStringLiteral("route"), route},
                    {QStringLiteral("outcome"), InputMethodCommit::outcomeName(outcome)}});
        printLine(QStringLiteral("[TextInjector] 输入法未接受文本 (%1: %2)，改用粘贴")
                      .arg(route, InputMethodCommit::outcomeName(outcome)));
        startPaste();
    });
}

void TextInjectionService::startPaste()
{
    if (const QString why = refusal(); !why.isEmpty()) {
        stop(why);
        finish();
        return;
    }
    m_pasteboard.readContents(clipboardReadBoundMs, [this, alive = std::weak_ptr<bool>(m_alive),
                                                     id = m_queue.front().id](Pasteboard::Snapshot saved) {
        if (alive.expired() || m_queue.empty() || m_queue.front().id != id)
            return;
        placeText(std::move(saved));
    });
}

void TextInjectionService::placeText(Pasteboard::Snapshot saved)
{
    Operation &op = m_queue.front();
    if (const QString why = refusal(); !why.isEmpty()) {
        stop(why);
        finish();
        return;
    }
    if (!saved.complete)
        debugEvent(QStringLiteral("[DEBUG] clipboard owner gave only part of its content"),
                   {{QStringLiteral("formats"), saved.contents.size()}});
    op.saved = std::move(saved);
    const bool primary = m_keySynth.pasteChordForFocusedWindow() == KeySynth::PasteChord::shiftInsert;
    m_pasteboard.offerTransientText(op.text, primary, op.flight->window, guarded([this]() { targetRead(); }));
    if (m_pasteboard.lastWriteFailed()) {
        fail(QStringLiteral("未能插入文字：无法写入剪贴板"));
        return;
    }
    op.injectedChangeCount = m_pasteboard.changeCount();
    schedule(pasteDelayMs, [this]() { waitForModifiers(m_clock.elapsedMs()); });
}

void TextInjectionService::waitForModifiers(qint64 since)
{
    // The stop fires on the hotkey's press: a chord sent while the user still holds AltGr, Super or Alt would
    // not be a paste.
    if (m_keySynth.modifiersHeld() && m_clock.elapsedMs() - since < modifierWaitMs) {
        schedule(modifierPollMs, [this, since]() { waitForModifiers(since); });
        return;
    }
    postChord();
}

void TextInjectionService::postChord()
{
    Operation &op = m_queue.front();
    if (const QString why = refusal(); !why.isEmpty()) {
        stop(why);
        putBack();
        return;
    }
    debugEvent(QStringLiteral("[DEBUG] post command+v"));
    printLine(QStringLiteral("[TextInjector] 尝试发送 Command+V 模拟按键..."));
    KeySynth::PasteChord chord = m_keySynth.pasteChordForFocusedWindow();
    if (chord == KeySynth::PasteChord::commandV && op.terminalRole)
        chord = KeySynth::PasteChord::commandShiftV;
    quint16 key = KeySynth::keyV;
    quint64 flags = KeySynth::flagCommand;
    if (chord == KeySynth::PasteChord::commandShiftV) {
        flags |= KeySynth::flagShift;
    } else if (chord == KeySynth::PasteChord::shiftInsert) {
        key = KeySynth::keyInsert;
        flags = KeySynth::flagShift;
    }
    // A clipboard that turned the text down after taking it (a helper process that failed) holds the user's
    // content still: a chord now would paste that.
    if (m_pasteboard.lastWriteFailed()) {
        fail(QStringLiteral("未能插入文字：无法写入剪贴板"));
        return;
    }
    op.chordAtMs = m_clock.elapsedMs();
    op.chord = chord;
    const bool sent = m_keySynth.postKey(key, flags, true);
    m_keySynth.postKey(key, flags, false);
    if (!sent) {
        leaveForUser();
        return;
    }
    printLine(QStringLiteral("[TextInjector] Command+V 模拟按键发送完成"));
    schedule(restoreBoundMs, [this]() { restoreClipboard(); });
}

void TextInjectionService::targetRead()
{
    // A read before the chord is not the paste's; the restore waits for the one that is.
    if (m_queue.front().chordAtMs < 0)
        return;
    m_queue.front().readAfterChord = true;
    m_clock.cancelTimer(m_timer);
    schedule(restoreAfterReadMs, [this]() { restoreClipboard(); });
}

void TextInjectionService::restoreClipboard()
{
    Operation &op = m_queue.front();
    const qint64 current = m_pasteboard.changeCount();
    if (current == op.injectedChangeCount) {
        // Nobody fetched the text, and nobody took the clipboard over to serve it: the chord pasted nothing.
        if (op.chordAtMs >= 0 && !op.readAfterChord && m_pasteboard.seesReads()) {
            leaveForUser();
            return;
        }
        putBack();
        return;
    }
    // A clipboard manager taking the text over as its own is no change by the user: the same text is there.
    m_pasteboard.readContents(clipboardReadBoundMs / 2, [this, alive = std::weak_ptr<bool>(m_alive), id = op.id,
                                                         current](Pasteboard::Snapshot now) {
        if (alive.expired() || m_queue.empty() || m_queue.front().id != id)
            return;
        Operation &op = m_queue.front();
        if (Pasteboard::textOf(now.contents) == op.text) {
            putBack();
            return;
        }
        debugEvent(QStringLiteral("[DEBUG] skip restore clipboard (changed by user/app)"),
                   {{QStringLiteral("injectedChangeCount"), op.injectedChangeCount},
                    {QStringLiteral("currentChangeCount"), current}});
        finish();
    });
}

void TextInjectionService::putBack()
{
    Operation &op = m_queue.front();
    // Every format comes back, not only the text: a copied image or file list survives a dictation.
    m_pasteboard.setContents(op.saved.contents);
    const std::optional<QString> oldString = Pasteboard::textOf(op.saved.contents);
    debugEvent(QStringLiteral("[DEBUG] restore clipboard (string only)"),
               {{QStringLiteral("oldStringLen"), oldString ? characterCount(*oldString) : 0},
                {QStringLiteral("restoredFormats"), op.saved.contents.size()}});
    finish();
}

void TextInjectionService::finish()
{
    m_clock.cancelTimer(m_timer);
    m_queue.pop_front();
    if (!m_queue.empty())
        begin();
}
