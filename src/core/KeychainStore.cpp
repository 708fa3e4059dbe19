#include "core/KeychainStore.h"

#include "base/AppIdentity.h"
#include "platform/SecretStore.h"

KeychainStore::KeychainStore(SecretStore &store) : m_store(store), m_service(Voxle::applicationId()) {}

std::optional<QString> KeychainStore::read(const QString &key)
{
    SecretStore::Result result = m_store.read(m_service, key);
    if (result.status != 0)
        throw KeychainError{result.status};
    return std::move(result.value);
}

void KeychainStore::save(const QString &value, const QString &key)
{
    const SecretStore::Result result = m_store.save(m_service, key, value);
    if (result.status != 0)
        throw KeychainError{result.status};
}

void KeychainStore::remove(const QString &key)
{
    const SecretStore::Result result = m_store.remove(m_service, key);
    if (result.status != 0)
        throw KeychainError{result.status};
}
