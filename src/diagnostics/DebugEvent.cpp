#include "diagnostics/DebugEvent.h"

void sendDebugEvent(const QString &, const QString &, const QString &, const QJsonObject &)
{
    // Filled in by the diagnostics work; call sites may use it already.
}
