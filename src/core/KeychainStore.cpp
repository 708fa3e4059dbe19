#include "core/KeychainStore.h"

#include "base/AppIdentity.h"
#include "platform/SecretStore.h"

KeychainStore::KeychainStore(SecretStore &store) : m_store(store), m_service(Voxle::applicationId()) {}

std::optional<QString> KeychainStore::read(const QString &key)
{
    if (const auto cached = m_cache.constFind(key); cached != m_cache.constEnd())
        return *cached;
    SecretStore::Result result = m_store.read(m_service, key);
    if (result.status != 0)
        throw KeychainError{result.status};
    m_cache.insert(key, result.value);
    return std::move(result.value);
}

void KeychainStore::save(const QString &value, const QString &key)
{
    const SecretStore::Result result = m_store.save(m_service, key, value);
    if (result.status != 0)
        throw KeychainError{result.status};
    m_cache.insert(key, value);
}

void KeychainStore::remove(const QString &key)
{
    const SecretStore::Result result = m_store.remove(m_service, key);
    if (result.status != 0)
        throw KeychainError{result.status};
    m_cache.insert(key, std::nullopt);
}
