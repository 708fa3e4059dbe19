#pragma once

#include "platform/SecretStore.h"

#include <QStringList>
#include <map>
#include <utility>

// An in-memory secret store for unit tests: records each call and fails with a set status when asked to.
class FakeSecretStore final : public SecretStore
{
public:
    Result read(const QString &service, const QString &account) override;
    Result save(const QString &service, const QString &account, const QString &value) override;
    Result remove(const QString &service, const QString &account) override;

    // Every later call of that operation fails with status (0 = succeed again).
    int failReadWith = 0;
    int failSaveWith = 0;
    // When set, only saves to this account fail with failSaveWith.
    QString failSaveAccount;

    // "read service account", "save service account", "remove service account", in call order.
    QStringList calls;
    std::map<std::pair<QString, QString>, QString> items;
};
