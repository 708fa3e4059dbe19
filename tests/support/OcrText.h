#pragma once

// Reading the program's windows back as a person would: tesseract (chi_sim) over an enlarged picture where the
// darkest channel turns the dark theme's light text into dark text on light. Matching ignores what OCR gets
// wrong anyway (spacing, punctuation) and allows a quarter of a longer text's characters to be misread.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <algorithm>

namespace OcrText {
// Letters, digits and Chinese characters only.
inline QString key(const QString &text)
{
    QString out;
    for (const QChar c : text.normalized(QString::NormalizationForm_KC).toLower()) {
        if (c.isLetterOrNumber())
            out += c;
    }
    return out;
}

inline int editDistance(const QString &a, const QString &b)
{
    QList<int> row(b.size() + 1);
    for (int j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (int i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = i;
        for (int j = 1; j <= b.size(); ++j) {
            const int above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// Found as is, or as a same-length stretch with at most a quarter of its characters misread.
inline bool readsAs(const QString &ocrText, const QString &expected)
{
    const QString haystack = key(ocrText);
    const QString needle = key(expected);
    if (haystack.contains(needle))
        return true;
    const int allowed = int(needle.size()) / 4;
    for (qsizetype at = 0; allowed > 0 && at + needle.size() <= haystack.size(); ++at) {
        if (editDistance(haystack.mid(at, needle.size()), needle) <= allowed)
            return true;
    }
    return false;
}

// The text of the PNG at `png`, right of `cropLeft` (transparent parts read as the black an X screenshot shows). A
// second pass at another scale and threshold runs only when the first misses an expected text: each pass misreads other
// strings, and a pass costs seconds on a loaded machine.
inline QString read(const QString &png, int cropLeft = 0, const QStringList &expected = {})
{
    QString text;
    for (const auto &[scale, threshold] : {std::pair{300, 60}, std::pair{400, 80}}) {
        const QString script = QStringLiteral(R"sh(
            out="$1.ocr.png"
            convert "$1" -background black -alpha remove -alpha off -crop +$2+0 +repage -shave 2x2 \
              -channel RGB -separate -evaluate-sequence Min -resize $3% -negate -threshold $4% \
              -bordercolor white -border 20 "$out" &&
            OMP_THREAD_LIMIT=1 tesseract "$out" - -l chi_sim --psm 11 2>/dev/null
            rm -f "$out")sh");
        QProcess process;
        process.start(QStringLiteral("sh"),
                      {QStringLiteral("-c"), script, QStringLiteral("ocr"), png, QString::number(cropLeft),
                       QString::number(scale), QString::number(threshold)});
        if (!process.waitForFinished(60000))
            process.kill();
        text += QString::fromUtf8(process.readAllStandardOutput());
        if (std::all_of(expected.cbegin(), expected.cend(), [&](const QString &e) { return readsAs(text, e); }))
            break;
    }
    return text;
}
} // namespace OcrText
