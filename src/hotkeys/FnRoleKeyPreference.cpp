#include "hotkeys/FnRoleKeyPreference.h"

namespace FnRoleKeyPreference {
FnRoleKey read(const UserDefaults &defaults)
{
    const std::optional<QString> stored = defaults.string(key);
    if (!stored)
        return FnRoleKeys::defaultKey;
    return FnRoleKeys::parse(*stored).value_or(FnRoleKeys::defaultKey);
}

void write(UserDefaults &defaults, FnRoleKey roleKey)
{
    defaults.setString(key, FnRoleKeys::id(roleKey));
}
} // namespace FnRoleKeyPreference
