#include "TextCleanup.h"

#include <QRegularExpression>

namespace TextCleanup {
namespace {
bool isCjk(QChar c)
{
    const ushort u = c.unicode();
    return (u >= 0x3040 && u <= 0x30FF) || (u >= 0x3400 && u <= 0x9FFF) || (u >= 0xF900 && u <= 0xFAFF);
}

bool isEndPunctuation(QChar c)
{
    static const QString marks = QStringLiteral(".!?。！？…");
    return marks.contains(c);
}

QString removeEnglishFillers(QString text)
{
    // Fillers as whole words, with the comma that often trails them.
    static const QRegularExpression fillers(
        QStringLiteral("\\b(?:um+|uh+|erm|er|ah|hmm+|you know|i mean|like,)\\b,?\\s*"),
        QRegularExpression::CaseInsensitiveOption);
    text.replace(fillers, QString());
    // "the the" -> "the"
    static const QRegularExpression repeats(QStringLiteral("\\b(\\w+)(\\s+\\1\\b)+"),
                                            QRegularExpression::CaseInsensitiveOption);
    text.replace(repeats, QStringLiteral("\\1"));
    return text;
}

QString removeChineseFillers(QString text)
{
    static const QRegularExpression fillers(
        QStringLiteral("(?:嗯+|呃+|额+|啊+(?=[，,])|那个(?=[，,])|就是说(?=[，,]))[，,]?"));
    text.replace(fillers, QString());
    return text;
}

QString capitaliseSentences(QString text)
{
    bool atStart = true;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isLetter()) {
            if (atStart && c.isLower() && c.unicode() < 0x80)
                text[i] = c.toUpper();
            atStart = false;
        } else if (isEndPunctuation(c)) {
            atStart = true;
        }
    }
    return text;
}
} // namespace

QString polish(const QString &input)
{
    QString text = input.simplified();
    text = removeChineseFillers(removeEnglishFillers(text)).simplified();
    // No space before punctuation left behind by a removed word.
    static const QRegularExpression spaceBeforePunctuation(QStringLiteral("\\s+([,.!?;:，。！？；：])"));
    text.replace(spaceBeforePunctuation, QStringLiteral("\\1"));
    static const QRegularExpression leadingPunctuation(QStringLiteral("^[,，\\s]+"));
    text.remove(leadingPunctuation);
    if (text.isEmpty())
        return text;
    text = capitaliseSentences(text);
    while (!text.isEmpty() && (text.back() == QLatin1Char(',') || text.back() == QChar(0xFF0C)))
        text.chop(1);
    if (!text.isEmpty() && !isEndPunctuation(text.back()))
        text += isCjk(text.back()) ? QStringLiteral("。") : QStringLiteral(".");
    return text;
}
} // namespace TextCleanup
