#include "platform/fake/FakeSecretStore.h"

SecretStore::Result FakeSecretStore::read(const QString &service, const QString &account)
{
    calls << QStringLiteral("read %1 %2").arg(service, account);
    if (failReadWith != 0)
        return {failReadWith, std::nullopt};
    const auto it = items.find({service, account});
    if (it == items.end())
        return {};
    return {0, it->second};
}

SecretStore::Result FakeSecretStore::save(const QString &service, const QString &account, const QString &value)
{
    calls << QStringLiteral("save %1 %2").arg(service, account);
    if (failSaveWith != 0 && (failSaveAccount.isEmpty() || failSaveAccount == account))
        return {failSaveWith, std::nullopt};
    items[{service, account}] = value;
    return {};
}

SecretStore::Result FakeSecretStore::remove(const QString &service, const QString &account)
{
    calls << QStringLiteral("remove %1 %2").arg(service, account);
    items.erase({service, account});
    return {};
}
