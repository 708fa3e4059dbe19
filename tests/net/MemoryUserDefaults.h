#pragma once

#include "platform/UserDefaults.h"

#include <QMap>

// Typed settings in memory, for tests.
class MemoryUserDefaults final : public UserDefaults
{
public:
    QVariant object(const QString &key) const override { return m_values.value(key); }
    void setBool(const QString &key, bool value) override { m_values.insert(key, value); }
    void setString(const QString &key, const QString &value) override
    {
        ++writes;
        m_values.insert(key, value);
    }
    void setData(const QString &key, const QByteArray &value) override { m_values.insert(key, value); }
    void setNumber(const QString &key, double value) override { m_values.insert(key, value); }
    void remove(const QString &key) override { m_values.remove(key); }

    int writes = 0; // string writes

private:
    QMap<QString, QVariant> m_values;
};
