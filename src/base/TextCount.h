#pragma once

#include <QString>

namespace Voxle {
// Characters as a reader counts them (grapheme clusters), not code units.
qint64 characterCount(const QString &text);
} // namespace Voxle
