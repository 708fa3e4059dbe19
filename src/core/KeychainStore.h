#pragma once

#include "core/KeychainError.h"

#include <QHash>
#include <QString>
#include <optional>

class SecretStore;

// The application's few secrets (API key, session token and its expiry), kept in the platform secret store
// under service = the application id and account = the key. What the store answered is kept in memory, so
// only the first read of a key goes to the store (a D-Bus round trip on Linux) and the hotkey path makes
// none; a failed call is not remembered and is retried the next time.
class KeychainStore
{
public:
    explicit KeychainStore(SecretStore &store);

    // No value when the key was never saved or its data is not text; throws KeychainError on a store failure.
    std::optional<QString> read(const QString &key);
    // Replaces any previous value; throws KeychainError on a store failure.
    void save(const QString &value, const QString &key);
    // Removing a missing key succeeds; throws KeychainError on a store failure.
    void remove(const QString &key);

private:
    SecretStore &m_store;
    QString m_service;
    QHash<QString, std::optional<QString>> m_cache;
};
