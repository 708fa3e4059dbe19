#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <optional>

// Where debug events go, from the diagnostics file ~/.dbg/fn-hotkey-not-effective.env.
struct DebugEventConfig {
    QString collectorUrl = QStringLiteral("http://127.0.0.1:7777/event");
    QString sessionId = QStringLiteral("fn-hotkey-not-effective");

    static QString filePath();
    // Lines split on line feeds only; the last DEBUG_SERVER_URL= / DEBUG_SESSION_ID= line wins; values are
    // taken untrimmed, so a carriage return stays part of the value.
    static DebugEventConfig parse(const QString &text);
    // The file's bytes: the defaults when they are not UTF-8 (a truncated sequence at the end included).
    static DebugEventConfig fromFileContents(const QByteArray &bytes);
    // The defaults when the file is missing, unreadable or not UTF-8.
    static DebugEventConfig load();

    // The collector URL when it is a valid absolute URL; no events are sent otherwise.
    std::optional<QUrl> collectorEndpoint() const;
};
