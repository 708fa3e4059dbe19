// The settings file as the program loads it at start-up: the JSON file store, then the preferences reading
// their keys from it (hotkey bindings decoded from their stored JSON). The same bytes are also decoded directly
// as a stored hotkey binding, which the file form can only reach through base64.
#include "FuzzSupport.h"

#include "base/VoxleTypes.h"
#include "core/VoxlePreferences.h"
#include "platform/linux/JsonFileUserDefaults.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {
QTemporaryDir *g_dir = nullptr;

const QStringList kKeys{
    VoxlePreferences::kHotkeyScheme,
    VoxlePreferences::kTriggerMode,
    VoxlePreferences::kRecordBinding,
    VoxlePreferences::kPolishBinding,
    VoxlePreferences::kTranslateBinding,
    VoxlePreferences::kModifierFnAction,
    VoxlePreferences::kModifierControlAction,
    VoxlePreferences::kModifierCommandAction,
    VoxlePreferences::kPolishEnabled,
    VoxlePreferences::kUseProxy,
    VoxlePreferences::kTranslationTarget,
    VoxlePreferences::kHistoryRetention,
    QStringLiteral("voxle_device_id"),
    QStringLiteral("voxle_auth_user_json"),
    QStringLiteral("voxle_ai_credentials_json"),
    QStringLiteral("has_run_before_v1"),
    QStringLiteral("hasRequestedInputMonitoring"),
    QStringLiteral("$data"),
};

void requireBindingRoundTrip(const QByteArray &json)
{
    const auto binding = HotkeyBinding::fromStorageJson(json);
    if (!binding)
        return;
    fuzz::require(HotkeyBinding::fromStorageJson(binding->toStorageJson()) == binding,
                  "a decoded binding survives its stored form");
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::silenceLogs();
    // Memory-backed when available: every input is written, loaded, rewritten and reloaded.
    const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    g_dir = new QTemporaryDir(base + QStringLiteral("/voxle-fuzz-settings-XXXXXX"));
    return g_dir->isValid() ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = fuzz::bytes(data, size);
    requireBindingRoundTrip(input);

    const QString path = g_dir->filePath(QStringLiteral("settings.json"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(input) != input.size())
            std::abort();
    }
    {
        JsonFileUserDefaults defaults(path);
        for (const QString &key : kKeys) {
            defaults.object(key);
            if (const auto stored = defaults.data(key))
                requireBindingRoundTrip(*stored);
        }
        VoxlePreferences preferences(defaults);
        preferences.load();

        // What the preferences wrote back reads back with the same values and types.
        JsonFileUserDefaults reloaded(path);
        for (const QString &key : kKeys)
            fuzz::require(reloaded.object(key) == defaults.object(key), "a stored value survives a reload");
        fuzz::require(reloaded.string(VoxlePreferences::kTriggerMode) == QStringLiteral("toggle"),
                      "every launch stores toggle");
    }
    // Moved-aside files and the rewritten settings go; the next input starts from an empty folder.
    QDir dir(g_dir->path());
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System))
        dir.remove(name);
    return 0;
}
