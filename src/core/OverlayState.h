#pragma once

#include <QString>
#include <QVector>
#include <optional>

// What the overlay pill shows.
struct OverlayState {
    enum class Kind { hidden, recording, processing, error };

    Kind kind = Kind::hidden;
    double level = 0;               // recording
    QVector<double> bars;           // recording
    std::optional<QString> partial; // recording
    QString hint;                   // recording
    std::optional<QString> message; // processing (optional), error (always)

    static OverlayState hidden() { return {}; }
    static OverlayState recording(double level, QVector<double> bars, std::optional<QString> partial, QString hint)
    {
        return {Kind::recording, level, std::move(bars), std::move(partial), std::move(hint), std::nullopt};
    }
    static OverlayState processing(std::optional<QString> message)
    {
        return {Kind::processing, 0, {}, std::nullopt, {}, std::move(message)};
    }
    static OverlayState error(QString message) { return {Kind::error, 0, {}, std::nullopt, {}, std::move(message)}; }

    bool operator==(const OverlayState &) const = default;
};
