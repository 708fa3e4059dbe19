#include "platform/fake/FakeUserDefaults.h"

void FakeUserDefaults::remove(const QString &key)
{
    values.remove(key);
    writes.append({key, QVariant()});
}

QStringList FakeUserDefaults::writtenKeys() const
{
    QStringList keys;
    for (const auto &write : writes)
        keys << write.first;
    return keys;
}

void FakeUserDefaults::record(const QString &key, const QVariant &value)
{
    values.insert(key, value);
    writes.append({key, value});
}
