#include "platform/linux/LibsecretSecretStore.h"

#include "base/Logging.h"

#include <QStringDecoder>

// GLib headers use `signals` as an identifier, which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#include <libsecret/secret.h>
#pragma pop_macro("signals")

namespace {
constexpr char kSecretsBusName[] = "org.freedesktop.secrets";
// Bound on the reachability probe: a bus that does not answer this quickly is treated as no Secret Service.
constexpr int kProbeTimeoutMs = 500;

const SecretSchema *voxleSchema()
{
    // Items are matched by their attributes only, so an item stored by another tool under the same service
    // and account (e.g. secret-tool) is the same item.
    static const SecretSchema schema = {"app.voxle.desktop.Secret",
                                        SECRET_SCHEMA_DONT_MATCH_NAME,
                                        {
                                            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
                                        },
                                        0,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr};
    return &schema;
}

struct ErrorHolder {
    GError *error = nullptr;
    ~ErrorHolder()
    {
        if (error)
            g_error_free(error);
    }
};

// Whether a call on the bus result means "nobody there" (as opposed to a failing service).
bool isUnreachableError(const GError *error)
{
    return error->domain == G_DBUS_ERROR || error->domain == G_IO_ERROR;
}

int statusFor(const GError *error, const char *operation)
{
    qCWarning(lcAppState) << "[KeychainStore]" << operation << "failed:" << error->message;
    return isUnreachableError(error) ? LibsecretSecretStore::kStatusUnavailable : LibsecretSecretStore::kStatusFailed;
}

// Fails fast when the session bus is absent or nothing owns or can start the Secret Service, so that callers
// never wait for libsecret's 25 s D-Bus timeouts on a machine without one.
bool secretServiceReachable()
{
    ErrorHolder err;
    GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &err.error);
    if (!bus) {
        qCWarning(lcAppState) << "[KeychainStore] no session bus:" << (err.error ? err.error->message : "");
        return false;
    }
    bool reachable = false;
    for (const char *method : {"NameHasOwner", "ListActivatableNames"}) {
        ErrorHolder callErr;
        const bool hasOwner = qstrcmp(method, "NameHasOwner") == 0;
        GVariant *reply =
            g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                        method, hasOwner ? g_variant_new("(s)", kSecretsBusName) : nullptr, nullptr,
                                        G_DBUS_CALL_FLAGS_NONE, kProbeTimeoutMs, nullptr, &callErr.error);
        if (!reply)
            break;
        if (hasOwner) {
            gboolean owned = FALSE;
            g_variant_get(reply, "(b)", &owned);
            reachable = owned;
        } else {
            GVariantIter *names = nullptr;
            const gchar *name = nullptr;
            g_variant_get(reply, "(as)", &names);
            while (!reachable && g_variant_iter_next(names, "&s", &name))
                reachable = qstrcmp(name, kSecretsBusName) == 0;
            g_variant_iter_free(names);
        }
        g_variant_unref(reply);
        if (reachable)
            break;
    }
    g_object_unref(bus);
    if (!reachable)
        qCWarning(lcAppState) << "[KeychainStore] no Secret Service on the session bus";
    return reachable;
}

QByteArray utf8(const QString &text)
{
    return text.toUtf8();
}

// Whether the matching item, or for a new item the default collection, is locked. libsecret would unlock it
// with a password prompt and wait for it; the search here never prompts.
bool lockedFor(const QString &service, const QString &account, bool creating)
{
    ErrorHolder err;
    SecretService *secretService = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &err.error);
    if (!secretService)
        return false; // the call itself will report the failure
    GHashTable *attributes = secret_attributes_build(voxleSchema(), "service", utf8(service).constData(), "account",
                                                     utf8(account).constData(), nullptr);
    GList *items =
        secret_service_search_sync(secretService, voxleSchema(), attributes, SECRET_SEARCH_ALL, nullptr, nullptr);
    bool locked = false;
    for (GList *item = items; item; item = item->next)
        locked = locked || secret_item_get_locked(SECRET_ITEM(item->data));
    if (creating && !items) {
        SecretCollection *collection = secret_collection_for_alias_sync(secretService, SECRET_COLLECTION_DEFAULT,
                                                                        SECRET_COLLECTION_NONE, nullptr, nullptr);
        if (collection) {
            locked = secret_collection_get_locked(collection);
            g_object_unref(collection);
        }
    }
    g_list_free_full(items, g_object_unref);
    g_hash_table_unref(attributes);
    g_object_unref(secretService);
    return locked;
}
} // namespace

SecretStore::Result LibsecretSecretStore::read(const QString &service, const QString &account)
{
    if (!secretServiceReachable())
        return {kStatusUnavailable, std::nullopt};
    if (lockedFor(service, account, false))
        return {kStatusLocked, std::nullopt};
    ErrorHolder err;
    SecretValue *value =
        secret_password_lookup_binary_sync(voxleSchema(), nullptr, &err.error, "service", utf8(service).constData(),
                                           "account", utf8(account).constData(), nullptr);
    if (err.error)
        return {statusFor(err.error, "read"), std::nullopt};
    if (!value)
        return {};
    gsize length = 0;
    const gchar *bytes = secret_value_get(value, &length);
    // Stateless: a value cut off inside a character is an error, not a shorter text.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(QByteArrayView(bytes, static_cast<qsizetype>(length)));
    const bool valid = !decoder.hasError();
    secret_value_unref(value);
    if (!valid)
        return {}; // data that is not text counts as no value
    return {0, std::move(text)};
}

SecretStore::Result LibsecretSecretStore::save(const QString &service, const QString &account, const QString &value)
{
    if (!secretServiceReachable())
        return {kStatusUnavailable, std::nullopt};
    if (lockedFor(service, account, true))
        return {kStatusLocked, std::nullopt};
    ErrorHolder err;
    const QByteArray label = QStringLiteral("Voxle: %1").arg(account).toUtf8();
    // Storing under the same attributes replaces the existing item's secret.
    secret_password_store_sync(voxleSchema(), SECRET_COLLECTION_DEFAULT, label.constData(), utf8(value).constData(),
                               nullptr, &err.error, "service", utf8(service).constData(), "account",
                               utf8(account).constData(), nullptr);
    if (err.error)
        return {statusFor(err.error, "save"), std::nullopt};
    return {};
}

SecretStore::Result LibsecretSecretStore::remove(const QString &service, const QString &account)
{
    if (!secretServiceReachable())
        return {kStatusUnavailable, std::nullopt};
    if (lockedFor(service, account, false))
        return {kStatusLocked, std::nullopt};
    ErrorHolder err;
    // FALSE without an error means nothing matched, which is success.
    secret_password_clear_sync(voxleSchema(), nullptr, &err.error, "service", utf8(service).constData(), "account",
                               utf8(account).constData(), nullptr);
    if (err.error)
        return {statusFor(err.error, "remove"), std::nullopt};
    return {};
}
