#pragma once

#include <QString>
#include <optional>

// A platform secret store keyed by (service, account). A missing item is not an error.
class SecretStore
{
public:
    struct Result {
        int status = 0; // 0 = success; otherwise the backend's failure status
        std::optional<QString> value; // read only: the secret when found
    };

    virtual ~SecretStore() = default;

    virtual Result read(const QString &service, const QString &account) = 0;
    virtual Result save(const QString &service, const QString &account, const QString &value) = 0;
    // Deleting a missing item succeeds.
    virtual Result remove(const QString &service, const QString &account) = 0;
};
