#pragma once

#include "platform/UserDefaults.h"

#include <QList>
#include <QMap>
#include <utility>

// In-memory settings for unit tests. Every write is recorded in order; a removal is recorded with an invalid
// QVariant.
class FakeUserDefaults final : public UserDefaults
{
public:
    QVariant object(const QString &key) const override { return values.value(key); }
    void setBool(const QString &key, bool value) override { record(key, value); }
    void setString(const QString &key, const QString &value) override { record(key, value); }
    void setData(const QString &key, const QByteArray &value) override { record(key, value); }
    void setNumber(const QString &key, double value) override { record(key, value); }
    void remove(const QString &key) override;

    // Keys written (set or removed) in order, with repeats.
    QStringList writtenKeys() const;

    QMap<QString, QVariant> values;
    QList<std::pair<QString, QVariant>> writes;

private:
    void record(const QString &key, const QVariant &value);
};
