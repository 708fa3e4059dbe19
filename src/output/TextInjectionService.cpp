#include "output/TextInjectionService.h"

#include "base/Logging.h"
#include "diagnostics/DebugEvent.h"
#include "platform/KeySynth.h"

#include <QJsonObject>
#include <QTextBoundaryFinder>
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

// Characters as a reader counts them (grapheme clusters), not code units.
qint64 characterCount(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qint64 count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
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

const QString kPlainText = QStringLiteral("text/plain");

} // namespace

TextInjectionService::TextInjectionService(Accessibility &accessibility, Pasteboard &pasteboard, KeySynth &keySynth,
                                           Clock &clock)
    : m_accessibility(accessibility), m_pasteboard(pasteboard), m_keySynth(keySynth), m_clock(clock)
{
}

TextInjectionService::~TextInjectionService()
{
    if (m_timer)
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

    if (m_active) {
        // An earlier paste is still in flight: typing now would land before its text. Wait behind it.
        startPaste(trimmed);
        return;
    }
    if (!m_accessibility.isProcessTrusted()) {
        debugEvent(QStringLiteral("[DEBUG] missing accessibility permission (AXIsProcessTrusted=false)"));
        m_accessibility.requestTrust();
    } else if (insertViaAccessibility(trimmed)) {
        debugEvent(QStringLiteral("[DEBUG] AX insert success"), {{QStringLiteral("len"), characterCount(trimmed)}});
        return;
    } else {
        debugEvent(QStringLiteral("[DEBUG] AX insert failed; fallback to paste"));
    }
    startPaste(trimmed);
}

bool TextInjectionService::insertViaAccessibility(const QString &text)
{
    const std::unique_ptr<Accessibility::Element> element = m_accessibility.focusedElement();
    if (!element)
        return false;

    // Kept to judge the read-back and to take back a mangled insertion.
    const std::optional<QString> before = element->value();
    const std::optional<Accessibility::TextRange> selectionBefore = element->selectedTextRange();

    if (element->setSelectedText(text)) {
        if (const auto range = element->selectedTextRange())
            element->setSelectedTextRange({range->location + range->length, 0});
        // Some fields accept the call and drop or mangle the text; only text that reads back counts as typed.
        // A field that cannot be read back is taken at its word.
        const std::optional<QString> after = element->value();
        const std::optional<Accessibility::TextRange> caret = element->selectedTextRange();
        if (!after || !caret)
            return true;
        if (textAtCaret(*after, caret->location + caret->length, text))
            return true;
        if (before && selectionBefore && *after != *before) {
            const qint64 start = std::clamp<qint64>(selectionBefore->location, 0, before->size());
            const qint64 replaced = std::clamp<qint64>(selectionBefore->length, 0, before->size() - start);
            // Some toolkits rewrite the whole field and leave the caret at its end: look where the text went in.
            if (after->mid(start, text.size()) == text)
                return true;
            // A masked field (a password) reads back as bullets: the length alone tells the text is in.
            if (after->size() == before->size() - replaced + text.size() && masked(*after))
                return true;
            // Take back what landed, so the paste does not add to a fragment.
            element->setValue(*before);
        }
        return false;
    }

    const std::optional<QString> value = element->value();
    if (!value)
        return false;
    const std::optional<Accessibility::TextRange> range = element->selectedTextRange();
    if (!range)
        return false;
    const qint64 length = value->size();
    const qint64 start = std::clamp<qint64>(range->location, 0, length);
    const qint64 count = std::clamp<qint64>(range->length, 0, length - start);
    QString newValue = *value;
    newValue.replace(start, count, text);
    if (!element->setValue(newValue))
        return false;
    element->setSelectedTextRange({start + text.size(), 0});
    const std::optional<QString> readBack = element->value();
    return !readBack || readBack->mid(start, text.size()) == text;
}

void TextInjectionService::startPaste(const QString &text)
{
    if (m_active) {
        m_waiting.push_back(text);
        return;
    }
    SavedClipboard saved;
    saved.oldString = m_pasteboard.string();
    saved.oldContents = m_pasteboard.contents();
    saved.oldChangeCount = m_pasteboard.changeCount();
    placeText(text, std::move(saved));
}

void TextInjectionService::placeText(const QString &text, SavedClipboard saved)
{
    m_pasteboard.setString(text);
    m_active = PasteOperation{std::move(saved), m_pasteboard.changeCount()};
    m_timer = m_clock.schedule(pasteDelayMs, [this]() {
        m_timer = 0;
        postPasteAndScheduleRestore();
    });
}

void TextInjectionService::postPasteAndScheduleRestore()
{
    debugEvent(QStringLiteral("[DEBUG] post command+v"));
    printLine(QStringLiteral("[TextInjector] 尝试发送 Command+V 模拟按键..."));

    bool terminal = m_keySynth.focusedWindowIsTerminal();
    if (!terminal) {
        if (const auto element = m_accessibility.focusedElement())
            terminal = element->isTerminal();
    }
    const quint64 flags = KeySynth::flagCommand | (terminal ? KeySynth::flagShift : 0);
    m_keySynth.postKey(KeySynth::keyV, flags, true);
    m_keySynth.postKey(KeySynth::keyV, flags, false);

    printLine(QStringLiteral("[TextInjector] Command+V 模拟按键发送完成"));
    m_timer = m_clock.schedule(restoreDelayMs, [this]() {
        m_timer = 0;
        restoreClipboard();
    });
}

void TextInjectionService::restoreClipboard()
{
    PasteOperation op = std::move(*m_active);
    m_active.reset();
    const qint64 current = m_pasteboard.changeCount();
    const bool untouched = current == op.injectedChangeCount;

    if (!m_waiting.empty()) {
        // The next paste takes over. While the clipboard still holds our own text, what it must give back in
        // the end is still the user's clipboard from before the first paste, not the earlier dictation.
        const QString next = m_waiting.front();
        m_waiting.pop_front();
        if (untouched) {
            placeText(next, std::move(op.saved));
        } else {
            startPaste(next);
        }
        return;
    }

    if (!untouched) {
        debugEvent(QStringLiteral("[DEBUG] skip restore clipboard (changed by user/app)"),
                   {{QStringLiteral("injectedChangeCount"), op.injectedChangeCount},
                    {QStringLiteral("currentChangeCount"), current}});
        return;
    }

    // Every format comes back, not only the text: a copied image or file list survives a dictation.
    Pasteboard::Contents contents = op.saved.oldContents;
    const bool hasText = std::any_of(contents.cbegin(), contents.cend(),
                                     [](const Pasteboard::Item &item) { return item.format == kPlainText; });
    if (!hasText && op.saved.oldString && !op.saved.oldString->isEmpty())
        contents.append({kPlainText, op.saved.oldString->toUtf8()});
    m_pasteboard.setContents(contents);
    debugEvent(QStringLiteral("[DEBUG] restore clipboard (string only)"),
               {{QStringLiteral("oldStringLen"), op.saved.oldString ? characterCount(*op.saved.oldString) : 0},
                {QStringLiteral("oldChangeCount"), op.saved.oldChangeCount},
                {QStringLiteral("restoredFormats"), contents.size()}});
}
