#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <optional>

// Typed key-value settings. Each value keeps its type across a round trip: a Boolean reads back as a
// Boolean, data as data, a number as a number.
class UserDefaults
{
public:
    virtual ~UserDefaults() = default;

    // The stored object with its type (bool, QString, QByteArray, double/qint64), or an invalid QVariant.
    virtual QVariant object(const QString &key) const = 0;
    virtual void setBool(const QString &key, bool value) = 0;
    virtual void setString(const QString &key, const QString &value) = 0;
    virtual void setData(const QString &key, const QByteArray &value) = 0;
    virtual void setNumber(const QString &key, double value) = 0;
    virtual void remove(const QString &key) = 0;

    // Typed reads: nothing when absent or of another type.
    std::optional<QString> string(const QString &key) const
    {
        const QVariant v = object(key);
        if (v.typeId() != QMetaType::QString)
            return std::nullopt;
        return v.toString();
    }
    std::optional<QByteArray> data(const QString &key) const
    {
        const QVariant v = object(key);
        if (v.typeId() != QMetaType::QByteArray)
            return std::nullopt;
        return v.toByteArray();
    }
    std::optional<bool> boolean(const QString &key) const
    {
        const QVariant v = object(key);
        if (v.typeId() != QMetaType::Bool)
            return std::nullopt;
        return v.toBool();
    }
    bool contains(const QString &key) const { return object(key).isValid(); }
};
