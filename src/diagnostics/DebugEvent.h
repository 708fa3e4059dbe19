#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

struct DebugEventConfig;

// Sends one diagnostic record to the loopback debug collector, best-effort: never blocks on the network,
// never fails, callable from any thread. The collector and session id come from the diagnostics file
// ~/.dbg/fn-hotkey-not-effective.env, read afresh on every call.
void sendDebugEvent(const QString &location, const QString &message, const QString &hypothesisId,
                    const QJsonObject &data = {});

// The compact JSON record of one event (empty when it cannot be serialised).
QByteArray debugEventBody(const DebugEventConfig &config, const QString &location, const QString &message,
                          const QString &hypothesisId, const QJsonObject &data, qint64 timestampMs);
