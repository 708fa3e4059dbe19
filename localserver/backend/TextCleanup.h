#pragma once

#include <QString>

// What the stand-in answers instead of a language model: a rule-based tidy-up of dictated text. Collapses
// white space, drops filler words (English "um", "uh", "er", "you know"...; Chinese 嗯, 呃, 额, 那个...) and
// immediate word repeats, capitalises the first letter of each English sentence and ends the text with a
// full stop in the script it is written in (。 after Chinese or Japanese, "." otherwise).
namespace TextCleanup {
QString polish(const QString &text);
}
