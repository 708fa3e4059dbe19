#pragma once

#include "platform/SecretStore.h"

// The Secret Service (gnome-keyring, KWallet) through libsecret's synchronous API. Items carry the attributes
// service and account. The calls block the calling thread only: libsecret runs its own private main context,
// so the Qt event loop is never re-entered. When no Secret Service is reachable every call fails at once with
// kStatusUnavailable instead of waiting for D-Bus timeouts.
class LibsecretSecretStore final : public SecretStore
{
public:
    // The same values as the macOS keychain's errSecNotAvailable and errSecInternalComponent.
    static constexpr int kStatusUnavailable = -25291;
    static constexpr int kStatusFailed = -26276;
    // The item, or the collection a new one would go to, is locked (errSecInteractionNotAllowed). Nothing
    // asks for the keyring password: that would block the caller until someone answers.
    static constexpr int kStatusLocked = -25308;

    Result read(const QString &service, const QString &account) override;
    Result save(const QString &service, const QString &account, const QString &value) override;
    Result remove(const QString &service, const QString &account) override;
};
