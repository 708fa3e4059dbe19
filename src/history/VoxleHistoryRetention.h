#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QTimeZone>
#include <optional>

// How long the history keeps rows (the setting "history_retention"); identified by its raw value.
// `keepForever` is the case "forever" (Qt reserves the word as a macro).
// rawValue() and label() live beside it in namespace Voxle and are found from their argument.
namespace Voxle {
enum class VoxleHistoryRetention { never, hours24, week1, month1, keepForever };

// "never", "hours24", "week1", "month1", "forever".
QString rawValue(VoxleHistoryRetention retention);
// "从不", "24小时", "1周", "1个月", "永远".
QString label(VoxleHistoryRetention retention);
} // namespace Voxle
using Voxle::VoxleHistoryRetention;

std::optional<VoxleHistoryRetention> parseHistoryRetention(const QString &raw);
// Declaration order, as the settings page lists them.
QList<VoxleHistoryRetention> allHistoryRetentions();

// Rows created before the cutoff are deleted; no cutoff for forever. Days and months are counted on the
// user's calendar in the given zone (a week across a daylight-saving change is not 168 hours; a month back
// from 31 March is the last day of February); hours are absolute.
std::optional<QDateTime> historyRetentionCutoff(VoxleHistoryRetention retention, const QDateTime &now,
                                                const QTimeZone &zone = QTimeZone::systemTimeZone());
