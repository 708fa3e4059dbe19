#pragma once

#include "platform/UserDefaults.h"

#include <QJsonObject>

// Settings in one JSON file (by default ~/.config/Voxle/settings.json), rewritten atomically on every change
// and readable by the owner only. Booleans, strings and numbers are stored as their JSON types and data as
// {"$data": "<base64>"}, so every value reads back with the type it was written with. A file that cannot be
// read or parsed is moved aside (settings.json.corrupt-<time>) with a log line, and the settings start empty.
// Main thread only.
class JsonFileUserDefaults final : public UserDefaults
{
public:
    explicit JsonFileUserDefaults(QString filePath = defaultPath());

    static QString defaultPath();
    QString filePath() const { return m_path; }

    QVariant object(const QString &key) const override;
    void setBool(const QString &key, bool value) override;
    void setString(const QString &key, const QString &value) override;
    void setData(const QString &key, const QByteArray &value) override;
    void setNumber(const QString &key, double value) override;
    void remove(const QString &key) override;

private:
    void load();
    void moveAside(const QString &reason);
    void set(const QString &key, const QJsonValue &value);
    void write();

    QString m_path;
    QJsonObject m_values;
    // False when an unreadable file could not be moved aside: it is never overwritten then.
    bool m_writable = true;
};
