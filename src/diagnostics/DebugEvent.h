#pragma once

#include <QJsonObject>
#include <QString>

// Sends one diagnostic record to the loopback debug collector, best-effort: never blocks on the network,
// never fails, callable from any thread. The collector and session id come from the diagnostics file
// ~/.dbg/fn-hotkey-not-effective.env, read afresh on every call.
void sendDebugEvent(const QString &location, const QString &message, const QString &hypothesisId,
                    const QJsonObject &data = {});
