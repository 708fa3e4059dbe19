#include "history/VoxleHistoryRetention.h"

namespace Voxle {

QString rawValue(VoxleHistoryRetention retention)
{
    switch (retention) {
    case VoxleHistoryRetention::never:
        return QStringLiteral("never");
    case VoxleHistoryRetention::hours24:
        return QStringLiteral("hours24");
    case VoxleHistoryRetention::week1:
        return QStringLiteral("week1");
    case VoxleHistoryRetention::month1:
        return QStringLiteral("month1");
    case VoxleHistoryRetention::keepForever:
        return QStringLiteral("forever");
    }
    return {};
}

QString label(VoxleHistoryRetention retention)
{
    switch (retention) {
    case VoxleHistoryRetention::never:
        return QStringLiteral("从不");
    case VoxleHistoryRetention::hours24:
        return QStringLiteral("24小时");
    case VoxleHistoryRetention::week1:
        return QStringLiteral("1周");
    case VoxleHistoryRetention::month1:
        return QStringLiteral("1个月");
    case VoxleHistoryRetention::keepForever:
        return QStringLiteral("永远");
    }
    return {};
}

} // namespace Voxle

std::optional<VoxleHistoryRetention> parseHistoryRetention(const QString &raw)
{
    for (const VoxleHistoryRetention retention : allHistoryRetentions()) {
        if (rawValue(retention) == raw)
            return retention;
    }
    return std::nullopt;
}

QList<VoxleHistoryRetention> allHistoryRetentions()
{
    return {VoxleHistoryRetention::never, VoxleHistoryRetention::hours24, VoxleHistoryRetention::week1,
            VoxleHistoryRetention::month1, VoxleHistoryRetention::keepForever};
}

std::optional<QDateTime> historyRetentionCutoff(VoxleHistoryRetention retention, const QDateTime &now,
                                                const QTimeZone &zone)
{
    const QDateTime local = now.toTimeZone(zone);
    switch (retention) {
    case VoxleHistoryRetention::never:
        return now.toUTC();
    case VoxleHistoryRetention::hours24:
        return now.toUTC().addSecs(-24 * 3600);
    case VoxleHistoryRetention::week1:
        return local.addDays(-7).toUTC();
    case VoxleHistoryRetention::month1:
        return local.addMonths(-1).toUTC();
    case VoxleHistoryRetention::keepForever:
        return std::nullopt;
    }
    return std::nullopt;
}
